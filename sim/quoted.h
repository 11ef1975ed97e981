// A text between double quotes, as the trace's and the world file's lines show one.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// `text` between double quotes, as it stands (nothing inside is escaped): a path in the trace, a
// value in the world file's messages.
std::string Quoted(std::string_view text);

}  // namespace sim

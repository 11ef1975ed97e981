// zelquin-cli on Linux: the tool over the SCSI generic devices, its report written to standard
// output and its diagnostics to standard error as UTF-8 lines.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arrivals_linux.h"
#include "cli/backend_linux.h"
#include "cli/tool.h"

namespace {

class StreamOutput : public cli::Output {
  public:
    void Out(std::string_view text) override { Write(STDOUT_FILENO, text); }
    void Err(std::string_view text) override { Write(STDERR_FILENO, text); }

  private:
    // Every byte, at once: the watch's lines must reach a pipe as each camera is set up.
    static void Write(int fd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = ::write(fd, text.data(), text.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    StreamOutput output;
    cli::LinuxBackend backend;
    cli::LinuxArrivals arrivals;
    return cli::RunTool(args, backend, arrivals, output);
}

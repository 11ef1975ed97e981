// zelquin-cli.exe: the Windows console program around the tool. Its arguments arrive as UTF-16 and
// are handed on as UTF-8; its output goes to the console as UTF-16, or as UTF-8 bytes into a pipe
// or a file, with Windows line ends either way.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/arrivals_win32.h"
#include "cli/backend_seam.h"
#include "cli/program_start.h"
#include "cli/tool.h"
#include "os/os.h"
#include "os/text.h"

namespace {

class ConsoleOutput : public cli::Output {
  public:
    void Out(std::string_view text) override { Write(STD_OUTPUT_HANDLE, text); }
    void Err(std::string_view text) override { Write(STD_ERROR_HANDLE, text); }

  private:
    static void Write(DWORD which, std::string_view text) {
        const HANDLE handle = ::GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            return;
        }
        std::string lines;
        for (const char c : text) {
            if (c == '\n') {
                lines.push_back('\r');
            }
            lines.push_back(c);
        }
        DWORD mode = 0;
        DWORD written = 0;
        if (::GetConsoleMode(handle, &mode)) {
            const std::wstring wide = os::FromUtf8(lines);
            ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                            nullptr);
        } else {
            ::WriteFile(handle, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        }
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // A drive without a medium must fail its open quietly, not ask the user in a dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        args.push_back(os::ToUtf8(argv[i]));
    }
    cli::StartProgram();
    ConsoleOutput output;
    cli::Win32Arrivals arrivals;
    cli::SeamBackend backend(arrivals);
    return cli::RunTool(args, backend, arrivals, output);
}

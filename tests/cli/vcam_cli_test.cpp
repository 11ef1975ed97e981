// Scenarios of the real zelquin-cli.exe on the virtual camera: each starts the camera service
// (zqvcam-service.exe) on a world file of its own, runs the tool as a user would, with its
// standard output and error going to files, and checks what it printed, its exit code and the
// requests that reached the service (its trace). The operating system routes the tool's device
// calls to the driver zqvcam.sys, and the service's notify line sends the volume events of the
// letters that come and go to every top-level window, the tool's hidden window among them.
//
//     cli_vcam_tests.exe [gtest flags] ZELQUIN_CLI_EXE SERVICE_EXE WORK_FOLDER
//
// Every JSON document a scenario reads is also kept in its folder (json/N.json), for the check
// against the schema that follows each scenario (vcam_cli_scenario.py). It runs in the virtual
// camera's Wine prefix, with the driver started (scripts/vcam_prefix.sh).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/panel_driver.h"
#include "tests/e2e/scenario_support.h"
#include "tests/support/clock_bytes.h"
#include "tests/vcam/vcam_fixture.h"

namespace {

using e2e::Cdb;
using e2e::Codes;
using e2e::Fail;
using e2e::OpenedLetters;
using e2e::Quoted;
using e2e::VendorCdbs;
using nlohmann::json;
using vcamtest::CloseFileManagers;
using vcamtest::FileManager;
using vcamtest::FileManagers;
using vcamtest::Letters;
using vcamtest::PresentedLetters;
using vcamtest::ServiceProcess;

std::wstring g_tool;
std::wstring g_service;
std::wstring g_work;

// How long one run of the tool may take (a watch: its own time-out and then some).
constexpr double kRunSeconds = 60;

// Wine's Z:, the Unix root, is a drive that refuses to open for reading and writing: the tool
// tells it on standard error whenever it looks at every letter.
const std::string kZNote = "zelquin-cli: Z: could not be opened: Access denied. (system error 5)\n";

// The computer's own C:, which the service leaves alone, and an optical drive that is no camera.
const std::string kDrives =
    "drive C fixed\n"
    "drive D cdrom inquiry=5\n";

// Two cameras that differ in every value the tool reports.
const std::string kTwoCameras =
    kDrives +
    "camera E state=2 overwrite=1 timestamp=0 resolution=1 firmware=V1.0,.2024,B7\n"
    "camera G state=3 overwrite=0 timestamp=1 resolution=0 firmware=V2.1,.2025,C4\n";

// What the tool reads of a camera to report it: state, the three firmware pieces, the settings
// in the control panel's order.
const std::vector<std::string> kReportCodes = {"0E", "1A", "1B", "1C", "02", "01", "0B"};

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// What one run of the tool did.
struct ToolRun {
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

// One run of zelquin-cli.exe, its standard output and error going to files of the scenario.
class ToolProcess {
  public:
    ToolProcess(const std::wstring& folder, int number, const std::vector<std::string>& args)
        : out_(folder + L"\\tool-" + std::to_wstring(number) + L".out"),
          err_(folder + L"\\tool-" + std::to_wstring(number) + L".err") {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        const HANDLE out = ::CreateFileW(out_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const HANDLE err = ::CreateFileW(err_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::wstring commandLine = Quoted(g_tool);
        for (const std::string& arg : args) {
            commandLine += L" " + e2e::Widen(arg);
        }
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = err;
        const BOOL started =
            ::CreateProcessW(g_tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process_);
        ::CloseHandle(out);
        ::CloseHandle(err);
        if (!started) {
            Fail("cannot start " + e2e::Narrow(g_tool));
        }
    }
    ~ToolProcess() {
        if (Running()) {
            ::TerminateProcess(process_.hProcess, 9);
            ::WaitForSingleObject(process_.hProcess, 10000);
        }
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    DWORD id() const { return process_.dwProcessId; }
    bool Running() const { return ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    bool WaitForExit(double seconds = kRunSeconds) const {
        return ::WaitForSingleObject(process_.hProcess, static_cast<DWORD>(seconds * 1000)) ==
               WAIT_OBJECT_0;
    }

    // Waits for the tool to end and answers what it did; a tool that does not end is ended and
    // the scenario fails.
    ToolRun Finish(double seconds = kRunSeconds) {
        if (!WaitForExit(seconds)) {
            Fail("zelquin-cli did not end within " + std::to_string(seconds) + " s");
        }
        ToolRun run;
        ::GetExitCodeProcess(process_.hProcess, &run.exitCode);
        run.out = WithoutCarriageReturns(e2e::ReadWholeFile(out_));
        run.err = WithoutCarriageReturns(e2e::ReadWholeFile(err_));
        return run;
    }

    // What it has written to its standard output so far.
    std::string OutputSoFar() const { return WithoutCarriageReturns(e2e::ReadWholeFile(out_)); }

    // Whether the tool has its hidden window, which hears the volume events, up.
    bool Listening() const {
        HWND window = nullptr;
        while ((window = ::FindWindowExW(nullptr, window, L"ZelquinCliArrivals", nullptr))) {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process == process_.dwProcessId) {
                return true;
            }
        }
        return false;
    }

  private:
    std::wstring out_;
    std::wstring err_;
    PROCESS_INFORMATION process_ = {};
};

// The handles opened among `calls` that were not closed there.
std::set<std::string> LeftOpen(const std::vector<std::string>& calls) {
    std::set<std::string> open;
    for (const std::string& call : calls) {
        const std::size_t handle = call.find("-> handle ");
        if (call.rfind("CreateFileW ", 0) == 0 && handle != std::string::npos) {
            open.insert(call.substr(handle + 10, 8));
        } else if (call.rfind("CloseHandle ", 0) == 0) {
            open.erase(call.substr(call.find(" handle ") + 8, 8));
        }
    }
    return open;
}

// The three bytes of a clock command as the JSON report gives them, [26, 12, 10].
std::vector<int> Bytes(const json& bytes) {
    std::vector<int> values;
    for (const json& byte : bytes) {
        values.push_back(byte.get<int>());
    }
    return values;
}

// The local time a date and a time command carry (as the trace shows their blocks), as the tool
// writes it: "2025-03-07 14:05:09".
std::string ClockText(const std::vector<std::string>& dateAndTime) {
    const auto byte = [&dateAndTime](std::size_t command, std::size_t at) {
        return std::stoi(dateAndTime[command].substr(24 + at * 3, 2), nullptr, 16);
    };
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + byte(0, 0), byte(0, 1),
                  byte(0, 2), byte(1, 0), byte(1, 1), byte(1, 2));
    return text;
}

class CliOnVcam : public ::testing::Test {
  protected:
    // Starts the service on `world` in a folder of its own and waits for its letters.
    void Start(const std::string& world, std::vector<std::wstring> options = {}) {
        service_.reset();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = g_work + L"\\" + e2e::Widen(info->name()) + L"." + std::to_wstring(++starts_);
        ::CreateDirectoryW(g_work.c_str(), nullptr);
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        ::CreateDirectoryW((folder_ + L"\\json").c_str(), nullptr);
        service_ = std::make_unique<ServiceProcess>(g_service, folder_, std::move(options));
        e2e::WriteFileAtomically(service_->world(), world);
        ::DeleteFileW(service_->trace().c_str());
        service_->Start();
    }

    void TearDown() override {
        if (HasFailure() && service_) {
            service_->PrintRun();
        }
        CloseFileManagers();
        service_.reset();
    }

    std::unique_ptr<ToolProcess> Begin(const std::vector<std::string>& args) {
        return std::make_unique<ToolProcess>(folder_, ++runs_, args);
    }

    // Runs the tool to its end.
    ToolRun Tool(const std::vector<std::string>& args) { return Begin(args)->Finish(); }

    // Reads one JSON document (one line) and keeps it for the schema check.
    json Document(const std::string& text) {
        const std::wstring kept = folder_ + L"\\json\\" + std::to_wstring(++documents_) + L".json";
        e2e::WriteFileAtomically(kept, text);
        return json::parse(text);
    }
    // Each line of the watch's output as a JSON document, each kept for the schema check.
    std::vector<json> Lines(const std::string& out) {
        std::vector<json> lines;
        std::size_t at = 0;
        while (at < out.size()) {
            const std::size_t end = out.find('\n', at);
            lines.push_back(Document(out.substr(at, end - at)));
            at = end == std::string::npos ? out.size() : end + 1;
        }
        return lines;
    }

    // The device calls from call `first` on, once the closes still on their way have come (the
    // driver passes a close on a moment after the program's call returned).
    std::vector<std::string> Calls(std::size_t first = 0) const {
        return e2e::Trace(service_->trace()).SettledCalls(first);
    }
    std::size_t CallCount() const { return e2e::Trace(service_->trace()).CallCount(); }

    // The service's notes (trace lines starting "# ") that contain `text`.
    std::vector<std::string> Notes(const std::string& text) const {
        std::vector<std::string> notes;
        for (const std::string& line : e2e::Trace(service_->trace()).Lines()) {
            if (line.rfind("# ", 0) == 0 && line.find(text) != std::string::npos) {
                notes.push_back(line.substr(2));
            }
        }
        return notes;
    }

    // Rewrites the world file and waits until the service presents `letters`.
    void EditWorld(const std::string& world, const std::string& letters) {
        service_->EditWorld(world, letters);
    }

    std::unique_ptr<ServiceProcess> service_;
    std::wstring folder_;
    int starts_ = 0;
    int runs_ = 0;
    int documents_ = 0;
};

// ---- list ----

TEST_F(CliOnVcam, ListShowsBothCameras) {
    Start(kTwoCameras);

    const ToolRun text = Tool({"list"});
    EXPECT_EQ(text.exitCode, 0u);
    EXPECT_EQ(text.out,
              "DRIVE  STATE  READY  FIRMWARE     OVERWRITE  TIMESTAMP  RESOLUTION\n"
              "E:     2      yes    V1.0.2024B7  on         off        720p\n"
              "G:     3      yes    V2.1.2025C4  off        on         1080p\n");
    EXPECT_EQ(text.err, kZNote);
    // Every letter of the world asked once, each camera read and nothing changed; every handle
    // closed again. The letters are looked at all at once, so they are opened in any order.
    std::vector<std::string> calls = Calls();
    std::string opened = OpenedLetters(calls);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened, "DEG");
    EXPECT_EQ(Codes(VendorCdbs(calls, 'D')), std::vector<std::string>{});
    EXPECT_EQ(Codes(VendorCdbs(calls, 'E')), kReportCodes);
    EXPECT_EQ(Codes(VendorCdbs(calls, 'G')), kReportCodes);
    EXPECT_EQ(LeftOpen(calls), std::set<std::string>{});

    const std::size_t mark = CallCount();
    const ToolRun asJson = Tool({"list", "--json"});
    EXPECT_EQ(asJson.exitCode, 0u);
    EXPECT_EQ(asJson.err, "") << "nothing goes to standard error with --json";
    const json document = Document(asJson.out);
    EXPECT_EQ(document["schema"], "zelquin-cli/1");
    EXPECT_EQ(document["exit_code"], 0);
    EXPECT_TRUE(document["error"].is_null());
    struct Expected {
        std::string drive;
        int state;
        std::string firmware;
        std::vector<int> settings;  // overwrite, time stamp, resolution
    };
    const Expected expected[] = {{"E:", 2, "V1.0.2024B7", {1, 0, 1}},
                                 {"G:", 3, "V2.1.2025C4", {0, 1, 0}}};
    ASSERT_EQ(document["cameras"].size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const json& camera = document["cameras"][i];
        SCOPED_TRACE(expected[i].drive);
        EXPECT_EQ(camera["drive"], expected[i].drive);
        EXPECT_EQ(camera["state"], expected[i].state);
        EXPECT_EQ(camera["ready"], true);
        EXPECT_EQ(camera["firmware"], expected[i].firmware);
        EXPECT_EQ(camera["inquiry"]["vendor"], "KMZ");
        EXPECT_EQ((std::vector<int>{camera["settings"]["overwrite"]["value"],
                                    camera["settings"]["timestamp"]["value"],
                                    camera["settings"]["resolution"]["value"]}),
                  expected[i].settings);
        EXPECT_TRUE(camera["error"].is_null());
    }
    // D answers, but without the camera's mark; Z: cannot be opened.
    ASSERT_EQ(document["drives"].size(), 2u);
    EXPECT_EQ(document["drives"][0]["drive"], "D:");
    EXPECT_EQ(document["drives"][0]["result"], "not-camera");
    EXPECT_EQ(document["drives"][0]["inquiry_byte3"], 5);
    EXPECT_EQ(document["drives"][1]["drive"], "Z:");
    EXPECT_EQ(document["drives"][1]["result"], "open-failed");
    EXPECT_EQ(document["drives"][1]["system_error"]["code"], 5);
    calls = Calls(mark);
    EXPECT_EQ(Codes(VendorCdbs(calls, 'E')), kReportCodes);
    EXPECT_EQ(Codes(VendorCdbs(calls, 'G')), kReportCodes);
}

// ---- set ----

TEST_F(CliOnVcam, SetSendsEachSettingAndReadsItBack) {
    Start(kTwoCameras);

    // G's three settings, each set and read back; E is not touched.
    const ToolRun set =
        Tool({"set", "--drive", "g:", "overwrite=on", "timestamp=off", "resolution=720p"});
    EXPECT_EQ(set.exitCode, 0u);
    EXPECT_EQ(set.out,
              "G: overwrite=on confirmed\nG: timestamp=off confirmed\nG: resolution=720p "
              "confirmed\n");
    EXPECT_EQ(set.err, "");
    std::vector<std::string> calls = Calls();
    EXPECT_EQ(OpenedLetters(calls), "G");
    EXPECT_EQ(VendorCdbs(calls, 'G'),
              (std::vector<std::string>{Cdb(false, 0x0E), Cdb(true, 0x02, {1}), Cdb(false, 0x02),
                                        Cdb(true, 0x0B, {0}), Cdb(false, 0x0B),
                                        Cdb(true, 0x01, {1}), Cdb(false, 0x01)}));
    EXPECT_EQ(LeftOpen(calls), std::set<std::string>{});

    // The camera keeps what was set: a later run reads it.
    std::size_t mark = CallCount();
    const json status = Document(Tool({"status", "--drive", "G:", "--json"}).out);
    const json& settings = status["cameras"][0]["settings"];
    EXPECT_EQ((std::vector<int>{settings["overwrite"]["value"], settings["timestamp"]["value"],
                                settings["resolution"]["value"]}),
              (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(Codes(VendorCdbs(Calls(mark), 'G')), kReportCodes);

    // Every set of loop recording is answered as done but not kept. The cameras are set at the
    // same time, so the fault hits both: E, which holds on, is a mismatch (7); G, put back to off
    // first, reads back what was sent and is confirmed; the first camera that failed, in drive
    // order, decides the exit code.
    ASSERT_EQ(Tool({"set", "--drive", "G:", "overwrite=off"}).exitCode, 0u);
    EditWorld(kTwoCameras + "fault 2 ignored times=always\n", "DEG");
    mark = CallCount();
    const ToolRun mismatch = Tool({"set", "--all", "overwrite=off", "--json"});
    EXPECT_EQ(mismatch.exitCode, 7u);
    EXPECT_EQ(mismatch.err, "");
    const json document = Document(mismatch.out);
    EXPECT_EQ(document["exit_code"], 7);
    EXPECT_EQ(document["error"]["kind"], "mismatch");
    EXPECT_EQ(document["error"]["drive"], "E:");
    EXPECT_EQ(document["error"]["setting"]["name"], "overwrite");
    EXPECT_EQ(document["error"]["setting"]["sent"]["value"], 0);
    EXPECT_EQ(document["error"]["setting"]["read_back"]["value"], 1);
    ASSERT_EQ(document["cameras"].size(), 2u);
    const json& e = document["cameras"][0]["changes"][0];
    EXPECT_EQ(e["confirmed"], false);
    EXPECT_EQ(e["read_back"]["value"], 1);
    const json& g = document["cameras"][1]["changes"][0];
    EXPECT_EQ(g["confirmed"], true);
    EXPECT_EQ(g["read_back"]["value"], 0);
    calls = Calls(mark);
    EXPECT_EQ(VendorCdbs(calls, 'E'),
              (std::vector<std::string>{Cdb(false, 0x0E), Cdb(true, 0x02, {0}), Cdb(false, 0x02)}));
    EXPECT_EQ(VendorCdbs(calls, 'G'),
              (std::vector<std::string>{Cdb(false, 0x0E), Cdb(true, 0x02, {0}), Cdb(false, 0x02)}));
}

// The pace keeps the operations on a camera apart: a set and its read-back each wait it. The
// run cannot be shorter than its pauses.
TEST_F(CliOnVcam, PaceKeepsTheOperationsApart) {
    Start(kTwoCameras);

    const ULONGLONG started = ::GetTickCount64();
    const ToolRun paced = Tool({"--pace", "1500", "set", "--drive", "G:", "timestamp=on"});
    const ULONGLONG tookMs = ::GetTickCount64() - started;
    EXPECT_EQ(paced.exitCode, 0u) << paced.err;
    EXPECT_EQ(paced.out, "G: timestamp=on confirmed\n");
    EXPECT_GE(tookMs, 3000u) << "two pauses of 1500 ms: before the set and before its read-back";
    EXPECT_EQ(VendorCdbs(Calls(), 'G'),
              (std::vector<std::string>{Cdb(false, 0x0E), Cdb(true, 0x0B, {1}), Cdb(false, 0x0B)}));

    const std::size_t mark = CallCount();
    const ToolRun unpaced =
        Tool({"set", "--drive", "G:", "timestamp=off", "--pace", "0", "--json"});
    EXPECT_EQ(unpaced.exitCode, 0u) << unpaced.err;
    EXPECT_EQ(Document(unpaced.out)["cameras"][0]["changes"][0]["confirmed"], true);
    EXPECT_EQ(VendorCdbs(Calls(mark), 'G'),
              (std::vector<std::string>{Cdb(false, 0x0E), Cdb(true, 0x0B, {0}), Cdb(false, 0x0B)}));
}

// ---- sync-time ----

TEST_F(CliOnVcam, SyncTimeSetsEachCameraFromTheLocalTime) {
    Start(kTwoCameras);

    struct Case {
        std::vector<std::string> args;
        std::string letters;  // the cameras whose clock is set
    };
    const Case cases[] = {{{"sync-time", "--drive", "G:"}, "G"},
                          {{"sync-time", "--all", "--json"}, "EG"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const std::size_t mark = CallCount();
        SYSTEMTIME before;
        ::GetLocalTime(&before);
        const ToolRun run = Tool(c.args);
        SYSTEMTIME after;
        ::GetLocalTime(&after);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.err, "");
        const std::vector<std::string> calls = Calls(mark);

        json document;
        if (c.letters.size() > 1) {
            document = Document(run.out);
            ASSERT_EQ(document["cameras"].size(), c.letters.size());
        }
        std::string text;
        for (std::size_t i = 0; i < c.letters.size(); ++i) {
            const char letter = c.letters[i];
            SCOPED_TRACE(letter);
            // The state, then the date, then the time, of a moment of the run.
            std::vector<std::string> sent = VendorCdbs(calls, letter);
            ASSERT_EQ(sent.size(), 3u);
            EXPECT_EQ(sent[0], Cdb(false, 0x0E));
            sent.erase(sent.begin());
            EXPECT_TRUE(e2e::SentAClockBetween(sent, before, after, vcamtest::kClockSlack));
            // What the tool reports is what it sent.
            const std::string clock = ClockText(sent);
            if (document.is_null()) {
                text += std::string(1, letter) + ": clock set to " + clock +
                        " (date command 4: " + sent[0].substr(24, 8) +
                        ", time command 3: " + sent[1].substr(24, 8) + ")\n";
                continue;
            }
            const json& camera = document["cameras"][i];
            EXPECT_EQ(camera["drive"], std::string(1, letter) + ":");
            EXPECT_EQ(camera["clock"]["local_time"], clock.substr(0, 10) + "T" + clock.substr(11));
            EXPECT_EQ(sent, (std::vector<std::string>{
                                Cdb(true, zqtest::kSetDateCode, Bytes(camera["clock"]["date"])),
                                Cdb(true, zqtest::kSetTimeCode, Bytes(camera["clock"]["time"]))}));
        }
        if (document.is_null()) {
            EXPECT_EQ(run.out, text);
        }
        if (c.letters == "G") {
            EXPECT_EQ(VendorCdbs(calls, 'E'), std::vector<std::string>{}) << "E not asked";
        }
    }
}

// ---- release ----

// The tool hears the volume's arrival as Windows announces it: the service's notify line.
TEST_F(CliOnVcam, ReleaseOpenShowsTheVolumeInTheFileManager) {
    Start("notify\n" + kTwoCameras +
          "storage letter=F\n"
          "storage camera=G letter=H\n");

    struct Case {
        std::vector<std::string> args;
        char camera;
        char volume;
        std::string lettersAfter;
    };
    const Case cases[] = {{{"release", "--drive", "G:", "--open"}, 'G', 'H', "DEH"},
                          {{"release", "--open", "--json"}, 'E', 'F', "DFH"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.camera);
        const std::size_t mark = CallCount();
        const ToolRun run = Tool(c.args);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.err, "");
        const std::string root = std::string(1, c.volume) + ":\\";
        if (c.args.back() == "--json") {
            const json document = Document(run.out);
            ASSERT_EQ(document["cameras"].size(), 1u);
            EXPECT_EQ(document["cameras"][0]["drive"], std::string(1, c.camera) + ":");
            EXPECT_EQ(document["cameras"][0]["volume"], root);
            EXPECT_EQ(document["cameras"][0]["opened"], true);
        } else {
            EXPECT_EQ(run.out, root + "\n");
        }
        EXPECT_EQ(PresentedLetters(), Letters(c.lettersAfter));

        // The state, then the release; the camera moved to its volume's letter.
        EXPECT_EQ(VendorCdbs(Calls(mark), c.camera),
                  (std::vector<std::string>{Cdb(false, 0x0E), Cdb(false, 0x0F)}));
        EXPECT_EQ(Notes(std::string("letter ") + c.camera + ": withdrawn").size(), 1u);
        EXPECT_EQ(Notes(std::string("letter ") + c.volume + ": presented").size(), 1u);

        // The file manager shows the volume.
        std::vector<FileManager> managers;
        ASSERT_TRUE(e2e::WaitFor([&] {
            managers = FileManagers();
            return !managers.empty();
        }));
        ASSERT_EQ(managers.size(), 1u);
        const std::wstring title = managers[0].title;
        EXPECT_EQ(title.substr(title.size() - 4), L"(" + e2e::Widen(root.substr(0, 2)) + L")");
        EXPECT_EQ(managers[0].program, L"explorer.exe");
        CloseFileManagers();
        EXPECT_TRUE(FileManagers().empty()) << "the file manager did not close";
    }

    // A volume that never shows as the camera's: the tool waits, then gives up with its own code.
    Start("notify\n" + kDrives + "camera E\nstorage letter=F vendor=none\n");
    const ToolRun run = Tool({"release", "--timeout", "1"});
    EXPECT_EQ(run.exitCode, 8u);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("E: the camera's storage volume did not appear within 1 s"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(FileManagers().size(), 0u);
}

// A camera that stays on the bus presents its volume on its own letter, which Windows announces
// as an arrival there; one that leaves comes back as its storage disk a few seconds later, after
// a volume that is not the camera's, and the tool waits for it.
TEST_F(CliOnVcam, ReleaseWaitsForTheVolumeThatArrivesAfterTheCommand) {
    Start("notify\n" + kDrives + "camera E\n");
    const ToolRun stays = Tool({"release"});
    EXPECT_EQ(stays.exitCode, 0u) << stays.err;
    EXPECT_EQ(stays.out, "E:\\\n");
    EXPECT_EQ(e2e::Trace(service_->trace()).Notifications(),
              std::vector<std::string>{"DBT_DEVICEARRIVAL E:"});

    // Its command-mode letter goes and a volume on F comes at once, not the camera's (no KMZ);
    // the storage disk comes on K only when the world says so.
    const std::string computer = "notify\n" + kDrives;
    Start(computer + "camera E\nstorage letter=F vendor=none\n");
    std::unique_ptr<ToolProcess> release = Begin({"release", "--timeout", "60", "--json"});
    ASSERT_TRUE(e2e::WaitFor([&] {
        const std::vector<std::string> heard = e2e::Trace(service_->trace()).Notifications();
        return heard.size() >= 2 || !release->Running();
    }));
    ASSERT_TRUE(release->Running()) << "the release ended before its volume came";
    EXPECT_EQ(e2e::Trace(service_->trace()).Notifications(),
              (std::vector<std::string>{"DBT_DEVICEREMOVECOMPLETE E:", "DBT_DEVICEARRIVAL F:"}));
    EditWorld(computer + "camera E\nstorage letter=F vendor=none\n" +
                  "drive K removable vendor=\"KMZ     \"\n",
              "DFK");
    ASSERT_TRUE(release->WaitForExit(e2e::kPatience)) << "the volume on K was not taken";
    const ToolRun run = release->Finish();
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    const json document = Document(run.out);
    ASSERT_EQ(document["cameras"].size(), 1u);
    EXPECT_EQ(document["cameras"][0]["drive"], "E:");
    EXPECT_EQ(document["cameras"][0]["volume"], "K:\\");
}

// ---- watch ----

TEST_F(CliOnVcam, WatchSyncsACameraPluggedInAfterItStarted) {
    const std::string computer = "notify\n" + kDrives;
    Start(computer);
    // Its own time limit is far away: the camera has to be set up when it comes, not when the
    // watch ends.
    std::unique_ptr<ToolProcess> watch =
        Begin({"watch", "--sync-time", "--count", "1", "--timeout", "600", "--json"});
    ASSERT_TRUE(e2e::WaitFor([&] { return watch->Listening() || !watch->Running(); }));
    ASSERT_TRUE(watch->Running()) << "the watch ended before a camera came";

    // The camera is plugged in: the service presents G and tells every window.
    const std::size_t mark = CallCount();
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    EditWorld(computer + "camera G state=2\n", "DG");
    ASSERT_TRUE(watch->WaitForExit(e2e::kPatience))
        << "the watch did not set up the camera that arrived";
    const ToolRun run = watch->Finish();
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(e2e::Trace(service_->trace()).Notifications(),
              std::vector<std::string>{"DBT_DEVICEARRIVAL G:"});

    const std::vector<json> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0]["event"], "arrival");
    EXPECT_EQ(lines[0]["exit_code"], 0);
    EXPECT_EQ(lines[0]["camera"]["drive"], "G:");
    EXPECT_EQ(lines[1]["event"], "stopped");
    EXPECT_EQ(lines[1]["reason"], "count");
    EXPECT_EQ(lines[1]["cameras"], 1);
    EXPECT_EQ(lines[1]["exit_code"], 0);

    // The clock set on G, from the local time of the arrival, as reported.
    std::vector<std::string> sent = VendorCdbs(Calls(mark), 'G');
    ASSERT_EQ(sent.size(), 3u) << ::testing::PrintToString(sent);
    EXPECT_EQ(sent[0], Cdb(false, 0x0E));
    sent.erase(sent.begin());
    EXPECT_TRUE(e2e::SentAClockBetween(sent, before, after, vcamtest::kClockSlack));
    const json& clock = lines[0]["camera"]["clock"];
    const std::vector<int> d = Bytes(clock["date"]);
    const std::vector<int> t = Bytes(clock["time"]);
    EXPECT_EQ(sent, (std::vector<std::string>{Cdb(true, zqtest::kSetDateCode, d),
                                              Cdb(true, zqtest::kSetTimeCode, t)}));
    const std::string text = ClockText(sent);
    EXPECT_EQ(clock["local_time"], text.substr(0, 10) + "T" + text.substr(11));
}

// Two cameras plugged in together (a hub): the watch sets them up side by side, each with a
// handle of its own, and tells each once, in the order they arrived. G, announced first, takes
// its time over every command; H is not kept waiting until G is done.
TEST_F(CliOnVcam, WatchSetsUpTwoCamerasPluggedInTogether) {
    const std::string computer = "notify\n" + kDrives;
    Start(computer);
    std::unique_ptr<ToolProcess> watch =
        Begin({"watch", "--sync-time", "--count", "2", "--timeout", "600", "--json"});
    ASSERT_TRUE(e2e::WaitFor([&] { return watch->Listening() || !watch->Running(); }));
    ASSERT_TRUE(watch->Running()) << "the watch ended before a camera came";

    const std::size_t mark = CallCount();
    EditWorld(computer + "camera G delay=300\ncamera H\n", "DGH");
    ASSERT_TRUE(watch->WaitForExit(e2e::kPatience)) << "the watch did not set up both cameras";
    const ToolRun run = watch->Finish();
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> heard = e2e::Trace(service_->trace()).Notifications();
    ASSERT_EQ(heard, (std::vector<std::string>{"DBT_DEVICEARRIVAL G:", "DBT_DEVICEARRIVAL H:"}));

    const std::vector<json> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    // The lines come in the order the system announced the cameras.
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(heard[i]);
        EXPECT_EQ(lines[i]["event"], "arrival");
        EXPECT_EQ(lines[i]["exit_code"], 0);
        EXPECT_EQ("DBT_DEVICEARRIVAL " + lines[i]["camera"]["drive"].get<std::string>(), heard[i]);
        EXPECT_FALSE(lines[i]["camera"]["clock"].is_null());
    }
    EXPECT_EQ(lines[2]["event"], "stopped");
    EXPECT_EQ(lines[2]["reason"], "count");
    EXPECT_EQ(lines[2]["cameras"], 2);

    // Each camera had its clock set (its state, then date and time), and every handle was closed.
    const std::vector<std::string> calls = Calls(mark);
    for (const char letter : {'G', 'H'}) {
        SCOPED_TRACE(std::string(1, letter));
        const std::vector<std::string> sent = VendorCdbs(calls, letter);
        ASSERT_EQ(sent.size(), 3u) << ::testing::PrintToString(sent);
        EXPECT_EQ(sent[0], Cdb(false, 0x0E));
        EXPECT_EQ(Codes({sent[1], sent[2]}), (std::vector<std::string>{"04", "03"}));
    }
    EXPECT_EQ(LeftOpen(calls), std::set<std::string>{});
    // H was opened while G was still being set up: by position in the trace, H's opening came
    // before G's handle was closed (one after the other, it would come after).
    std::map<std::string, char> letterOf;
    std::map<char, std::size_t> opened;
    std::map<char, std::size_t> closed;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const std::string& call = calls[i];
        const std::size_t handle = call.find("-> handle ");
        if (call.rfind("CreateFileW ", 0) == 0 && handle != std::string::npos) {
            for (const char letter : {'G', 'H'}) {
                if (call.find(std::string("\\\\.\\") + letter + ":") != std::string::npos) {
                    letterOf[call.substr(handle + 10, 8)] = letter;
                    opened.emplace(letter, i);
                }
            }
        } else if (call.rfind("CloseHandle ", 0) == 0) {
            const auto owner = letterOf.find(call.substr(call.find(" handle ") + 8, 8));
            if (owner != letterOf.end()) {
                closed[owner->second] = i;
            }
        }
    }
    ASSERT_EQ(opened.size(), 2u);
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_LT(opened['H'], closed['G']) << "H waited for the slow camera announced before it";
}

// ---- the hostile camera ----

// The driver's time-out in the hostile scenarios, and the tool's runs for each seed.
constexpr DWORD kHostileTimeoutMs = 1000;
constexpr int kHostileRuns = 8;

TEST_F(CliOnVcam, HostileCameraNeverTurnsAFailureIntoSuccess) {
    // Each seed of the list: the tool sets the camera's settings and its clock, one run after
    // the other, on a camera that misbehaves at random (every vendor command draws an action;
    // hangs and storms more often than by default). A run that ends with success had every
    // command it relied on completed, as the service's trace shows (the last try of each
    // command block); no run crashes or waits past the driver's time-out and a second a
    // command; every handle is closed after each.
    //
    // "Completed" is GOOD status and the whole 8-byte answer, for a read and a set alike.
    std::map<std::string, int> kinds;
    int succeeded = 0;
    int failed = 0;
    double longest = 0;
    const std::vector<std::vector<std::string>> runs = {
        {"set", "--drive", "E:", "overwrite=on", "timestamp=off", "--json"},
        {"sync-time", "--drive", "E:", "--json"},
        {"set", "--drive", "E:", "resolution=720p", "--json"},
        {"set", "--drive", "E:", "overwrite=off", "resolution=1080p", "--json"},
    };
    const std::vector<std::uint32_t> seeds =
        vcamtest::HostileSeeds(e2e::WindowsPath(ZQ_HOSTILE_SEEDS));
    for (const std::uint32_t seed : seeds) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string hang = seed % 2 == 0 ? "1500" : "600";
        Start(kDrives + "camera E\nhostile seed=" + std::to_string(seed) + " hang-ms=" + hang +
                  " hang=4 storm=2 away-ms=400 storm-plugs=2 commands=vendor\n",
              {L"--request-timeout", std::to_wstring(kHostileTimeoutMs)});
        const std::uint32_t open = vcamtest::OpenHandles(vcamtest::DriverStatus());
        for (int i = 0; i < kHostileRuns; ++i) {
            // An unplugged camera comes back within a second or two.
            e2e::WaitFor([] { return (PresentedLetters() & Letters("E")) != 0; }, 5);
            const std::vector<std::string>& args = runs[static_cast<std::size_t>(i) % runs.size()];
            const std::size_t mark = e2e::Trace(service_->trace()).Lines().size();
            const ULONGLONG start = ::GetTickCount64();
            const ToolRun run = Tool(args);
            const double took = vcamtest::SecondsSince(start);
            longest = std::max(longest, took);
            EXPECT_LE(run.exitCode, 8u) << "not one of the tool's exit codes: " << run.exitCode;

            // Every handle closed; what reached the camera, once the closes have come.
            EXPECT_TRUE(e2e::WaitFor(
                [&] { return vcamtest::OpenHandles(vcamtest::DriverStatus()) == open; }, 5));
            const std::vector<std::string> all = e2e::Trace(service_->trace()).Lines();
            const std::vector<vcamtest::HostileCall> calls =
                vcamtest::HostileCalls(std::vector<std::string>(
                    all.begin() + static_cast<std::ptrdiff_t>(mark), all.end()));
            const double limit = static_cast<double>(std::max<std::size_t>(calls.size(), 1)) *
                                 (kHostileTimeoutMs / 1000.0 + 1);
            EXPECT_LE(took, limit) << calls.size() << " commands reached the camera";
            if (run.exitCode != 0) {
                ++failed;
                continue;
            }
            ++succeeded;
            EXPECT_EQ(Document(run.out)["exit_code"], 0);
            // The last try of each command block completed.
            std::map<std::string, const vcamtest::HostileCall*> last;
            for (const vcamtest::HostileCall& call : calls) {
                const std::size_t cdb = call.call.find(" cdb=");
                last[call.call.substr(cdb, 53)] = &call;
            }
            EXPECT_FALSE(last.empty()) << "success with no command sent";
            for (const auto& [cdb, call] : last) {
                // GOOD status and the whole answer of a vendor command.
                const std::size_t needed = 8;
                const std::size_t data = call->call.find(" data=");
                const std::size_t bytes =
                    data == std::string::npos ? 0 : std::stoul(call->call.substr(data + 6));
                EXPECT_TRUE(call->good && bytes >= needed)
                    << "success reported, but the camera answered " << call->kind << ": "
                    << call->call;
            }
        }
        for (const auto& [kind, count] :
             vcamtest::HostileKinds(e2e::Trace(service_->trace()).Lines())) {
            kinds[kind] += count;
        }
    }
    // Over several seeds some run succeeds, or the check above never ran; one seed alone (the
    // random seeds of scripts/soak_vcam.sh) may leave the tool no success.
    if (seeds.size() > 1) {
        EXPECT_GT(succeeded, 0) << "no run succeeded: the check above never ran";
    }
    std::string counted;
    for (const auto& [kind, count] : kinds) {
        counted += " " + kind + "=" + std::to_string(count);
    }
    std::printf(
        "hostile (zelquin-cli): %d runs succeeded, %d failed; longest run %.2f s; "
        "actions:%s\n",
        succeeded, failed, longest, counted.c_str());
}

// ---- soak ----

// The test command's cycles; scripts/soak_vcam.sh runs 500.
constexpr int kSoakCycles = 20;
// Private bytes may grow this much from the tenth cycle on (the heap settles in pieces).
constexpr long long kPrivateSlack = 256 * 1024;

// The arrival lines among a watch's JSON lines.
std::vector<json> Arrivals(const std::string& out) {
    std::vector<json> arrivals;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        if (end == std::string::npos) {
            break;  // a line still being written
        }
        const json line = json::parse(out.substr(at, end - at));
        if (line["event"] == "arrival") {
            arrivals.push_back(line);
        }
        at = end + 1;
    }
    return arrivals;
}

TEST_F(CliOnVcam, SoakOfWatchSetsUpEachArrivalOnceAndLeavesNothingBehind) {
    // The camera comes and goes; the service tells every window (notify). Every fifth camera
    // takes 300 ms over each command and goes while the tool's first command to it is on its
    // way: the tool reports that camera's failure, and no success for it.
    const int cycles = vcamtest::SoakCycles(kSoakCycles);
    const std::string computer = "notify\n" + kDrives;
    const std::string camera = computer + "camera E state=2\n";
    const std::string slow = computer + "camera E state=2 delay=300\n";
    Start(computer);
    const std::uint32_t open = vcamtest::OpenHandles(vcamtest::DriverStatus());
    std::unique_ptr<ToolProcess> watch =
        Begin({"watch", "--count", std::to_string(cycles), "--timeout", "36000", "--json"});
    ASSERT_TRUE(e2e::WaitFor([&] { return watch->Listening() || !watch->Running(); }));
    ASSERT_TRUE(watch->Running()) << "the watch ended before a camera came";

    vcamtest::ResourceGrowth growth;
    int cyclesDone = 0;
    int failedArrivals = 0;
    double longest = 0;
    std::uint32_t driverGrowth = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const bool inFlight = cycle % 5 == 0;
        const std::size_t mark = CallCount();
        ULONGLONG start = ::GetTickCount64();
        EditWorld(inFlight ? slow : camera, "DE");
        if (inFlight) {
            ASSERT_TRUE(e2e::WaitFor([&] { return !VendorCdbs(Calls(mark), 'E').empty(); }));
            EditWorld(computer, "D");
        }
        // The arrival is set up once: one line for it, and every handle closed again.
        std::vector<json> arrivals;
        const bool handled = e2e::WaitFor([&] {
            arrivals = Arrivals(watch->OutputSoFar());
            return arrivals.size() >= static_cast<std::size_t>(cycle) &&
                   vcamtest::OpenHandles(vcamtest::DriverStatus()) == open;
        });
        longest = std::max(longest, vcamtest::SecondsSince(start));
        ASSERT_TRUE(handled) << arrivals.size() << " arrivals reported";
        ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(cycle));
        const json& line = arrivals.back();
        EXPECT_EQ(line["camera"]["drive"], "E:");
        if (inFlight) {
            EXPECT_NE(line["exit_code"], 0) << line.dump();
            ++failedArrivals;
        } else {
            EXPECT_EQ(line["exit_code"], 0) << line.dump();
            EXPECT_EQ(Codes(VendorCdbs(Calls(mark), 'E')), kReportCodes);
        }
        if (!inFlight) {
            start = ::GetTickCount64();
            EditWorld(computer, "D");
            longest = std::max(longest, vcamtest::SecondsSince(start));
        }
        const std::uint32_t nowOpen = vcamtest::OpenHandles(vcamtest::DriverStatus());
        driverGrowth = std::max(driverGrowth, nowOpen > open ? nowOpen - open : 0u);
        EXPECT_EQ(nowOpen, open);
        // Read after every cycle but the last (the watch ends after it), kept from the tenth:
        // the first reading under Wine brings the pages of the GDI handle table it reads in,
        // which counts as private memory.
        if (cycle < cycles) {
            const vcamtest::ProcessResources now = vcamtest::ResourcesOf(watch->id());
            ASSERT_TRUE(now.read) << "the tool's resources could not be read";
            if (cycle >= 10) {
                growth.Add(cycle, now);
            }
        }
        cyclesDone = cycle;
    }
    const ToolRun run = watch->Finish();
    e2e::WriteFileAtomically(folder_ + L"\\resources.txt", growth.table);
    EXPECT_EQ(cyclesDone, cycles);
    EXPECT_EQ(Arrivals(run.out).size(), static_cast<std::size_t>(cycles));
    // Every line kept for the schema check; the last one says why the watch ended: its count,
    // with each camera set up; the first failure decides its code.
    const std::vector<json> lines = Lines(run.out);
    const json stopped = lines.empty() ? json() : lines.back();
    EXPECT_EQ(stopped["event"], "stopped");
    EXPECT_EQ(stopped["reason"], "count");
    EXPECT_EQ(stopped["cameras"], cycles);
    EXPECT_EQ(run.exitCode, failedArrivals > 0 ? static_cast<DWORD>(stopped["exit_code"]) : 0u);
    EXPECT_EQ(growth.user, 0) << growth.Text();
    EXPECT_EQ(growth.gdi, 0) << growth.Text();
    EXPECT_LE(growth.privateBytes, kPrivateSlack) << growth.Text();
    std::printf(
        "soak (zelquin-cli watch): %d cycles, %d of them removed mid-command; driver's "
        "opens after a cycle: at most +%u; longest wait %.2f s; %s\n",
        cyclesDone, failedArrivals, driverGrowth, longest, growth.Text().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    return e2e::RunScenarios(argc, argv, "ZELQUIN_CLI_EXE SERVICE_EXE WORK_FOLDER",
                             {&g_tool, &g_service, &g_work});
}

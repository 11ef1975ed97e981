// The trace file: the line of each call, the writer that appends them and its second sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "os/os.h"
#include "sim/trace_writer.h"
#include "temp_folder.h"
#include "tests/support/sim_test.h"

namespace {

TEST(TraceLine, RendersEachCall) {
    sim::Event open;
    open.call = sim::Call::kCreateFile;
    open.path = L"\\\\.\\E:";
    open.access = 0xC0000000u;
    open.share = 3;
    open.disposition = 3;
    open.result = true;
    open.letter = 'E';
    open.handle = reinterpret_cast<os::Handle>(std::uintptr_t{0x1000});

    sim::Event failedOpen = open;
    failedOpen.path = L"\\\\.\\D:";
    failedOpen.result = false;
    failedOpen.handle = os::InvalidHandle();

    sim::Event command;
    command.call = sim::Call::kDeviceIoControl;
    command.letter = 'E';
    command.handle = open.handle;
    command.ioctl = os::kIoctlScsiPassThrough;
    command.inSize = 44;
    command.outSize = 88;
    command.head = {44, 0,  0, 0, 1, 0,  16, 24, 1, 0,    0,    0,    8,    0,    0, 0, 2, 0, 0,
                    0,  80, 0, 0, 0, 48, 0,  0,  0, 0xFA, 0x55, 0x66, 0xFE, 0x06, 0, 0, 1, 1};
    std::copy_n(command.head.begin() + 28, 16, command.cdb.begin());
    command.result = true;
    command.scsiStatus = 0;
    command.dataBytes = 8;
    command.bytesReturned = 88;

    sim::Event refused = command;
    refused.letter = 0;
    refused.result = false;

    sim::Event query;
    query.call = sim::Call::kDeviceIoControl;
    query.letter = 'F';
    query.handle = reinterpret_cast<os::Handle>(std::uintptr_t{0x1004});
    query.ioctl = os::kIoctlStorageQueryProperty;
    query.inSize = 12;
    query.outSize = 551;
    query.result = true;
    query.bytesReturned = 67;

    sim::Event other = query;
    other.ioctl = 0x12345;
    other.result = false;

    sim::Event close;
    close.call = sim::Call::kCloseHandle;
    close.letter = 'E';
    close.handle = open.handle;
    close.result = true;

    sim::Event list;
    list.call = sim::Call::kGetLogicalDriveStrings;
    list.inSize = 0;
    list.value = 13;

    sim::Event type;
    type.call = sim::Call::kGetDriveType;
    type.path = L"F:\\";
    type.value = 2;

    sim::Event shell;
    shell.call = sim::Call::kShellExecute;
    shell.file = L"explorer";
    shell.parameters = L"F:\\";
    shell.showCommand = 5;

    struct Case {
        const sim::Event& event;
        const char* line;
    };
    const Case cases[] = {
        {open,
         "CreateFileW \"\\\\.\\E:\" access=C0000000 share=00000003 disposition=3 flags=00000000 "
         "-> handle 00001000"},
        {failedOpen,
         "CreateFileW \"\\\\.\\D:\" access=C0000000 share=00000003 disposition=3 flags=00000000 "
         "-> INVALID_HANDLE_VALUE"},
        {command,
         "DeviceIoControl E: handle 00001000 IOCTL_SCSI_PASS_THROUGH in=44 out=88 "
         "head=2C 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 50 00 00 00 30 00 00 "
         "00 cdb=FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00 -> ok status=00 data=8 "
         "returned=88"},
        {refused,
         "DeviceIoControl ?: handle 00001000 IOCTL_SCSI_PASS_THROUGH in=44 out=88 "
         "head=2C 00 00 00 01 00 10 18 01 00 00 00 08 00 00 00 02 00 00 00 50 00 00 00 30 00 00 "
         "00 cdb=FA 55 66 FE 06 00 00 01 01 00 00 00 00 00 00 00 -> failed"},
        {query,
         "DeviceIoControl F: handle 00001004 IOCTL_STORAGE_QUERY_PROPERTY in=12 out=551 "
         "query=00 00 00 00 00 00 00 00 00 00 00 00 -> ok returned=67"},
        {other, "DeviceIoControl F: handle 00001004 ioctl=00012345 in=12 out=551 -> failed"},
        {close, "CloseHandle E: handle 00001000 -> ok"},
        {list, "GetLogicalDriveStringsW length=0 -> 13"},
        {type, "GetDriveTypeW \"F:\\\" -> 2 (removable)"},
        {shell,
         "ShellExecuteW operation=null file=\"explorer\" parameters=\"F:\\\" directory=null "
         "show=5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sim::TraceLine(c.event), c.line);
    }
}

// ---- the writer ----

TEST(TraceWriter, AppendsEachLineToTheFileAsItIsNow) {
    const simtest::TempFolder folder;
    sim::TraceWriter writer;
    writer.Append("# before any file: dropped");
    writer.SetPath(folder.Wide("trace.txt"));

    writer.Append("# one");
    writer.Append("GetLogicalDriveStringsW length=0 -> 1");
    EXPECT_EQ(folder.Lines("trace.txt"),
              (std::vector<std::string>{"# one", "GetLogicalDriveStringsW length=0 -> 1"}));

    // Removed meanwhile (a person or a test emptying the trace): the next line starts it again.
    std::filesystem::remove(folder.Path("trace.txt"));
    writer.Append("# two");
    EXPECT_EQ(folder.Lines("trace.txt"), std::vector<std::string>{"# two"});

    writer.SetPath(folder.Wide("other.txt"));
    writer.Append("# three");
    EXPECT_EQ(folder.Lines("trace.txt"), std::vector<std::string>{"# two"});
    EXPECT_EQ(folder.Lines("other.txt"), std::vector<std::string>{"# three"});
}

TEST(TraceWriter, EchoesTheChosenLinesToTheSecondSink) {
    struct Case {
        const char* setting;
        std::vector<std::string> echoed;
    };
    const Case cases[] = {
        {"", {}},
        {"none", {}},
        {"notes", {"# world file read: w.txt", "#   line 2: a second camera"}},
        {"all",
         {"# world file read: w.txt", "GetDriveTypeW \"C:\\\" -> 3 (fixed)",
          "#   line 2: a second camera"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        const simtest::TempFolder folder;
        sim::TraceWriter writer;
        writer.SetPath(folder.Wide("trace.txt"));
        std::vector<std::string> echoed;
        const std::optional<sim::TraceEcho> echo = sim::ParseTraceEcho(c.setting);
        ASSERT_TRUE(echo);
        writer.SetEcho(*echo, [&echoed](std::string_view line) { echoed.emplace_back(line); });

        for (const char* line : {"# world file read: w.txt", "GetDriveTypeW \"C:\\\" -> 3 (fixed)",
                                 "#   line 2: a second camera"}) {
            writer.Append(line);
        }

        EXPECT_EQ(echoed, c.echoed);
        EXPECT_EQ(folder.Lines("trace.txt").size(), 3u) << "the file has every line all the same";
    }
}

TEST(TraceWriter, AnUnknownEchoSettingIsNotTaken) {
    for (const char* setting : {"Notes", "stderr", "1", "notes "}) {
        EXPECT_FALSE(sim::ParseTraceEcho(setting)) << setting;
    }
}

TEST(TraceWriter, ANullSinkEchoesNothing) {
    sim::TraceWriter writer;
    writer.SetEcho(sim::TraceEcho::kAll, nullptr);
    EXPECT_NO_THROW(writer.Append("# nowhere to go"));
}

class TraceEveryCall : public zqtest::SimTest {};

TEST_F(TraceEveryCall, WritesEachDeviceCallAsItReturnsAndKeepsNoTraceInTheWorld) {
    const simtest::TempFolder folder;
    sim::TraceWriter writer;
    writer.SetPath(folder.Wide("trace.txt"));
    world.AddDrive('C', os::kDriveFixed);
    sim::TraceEveryCall(world, writer);

    os::GetDriveTypeW(L"C:\\");
    const os::Handle handle = os::CreateFileW(L"\\\\.\\Q:", 0xC0000000u, 3, 3, 0);

    EXPECT_EQ(handle, os::InvalidHandle());
    EXPECT_EQ(folder.Lines("trace.txt"),
              (std::vector<std::string>{
                  "GetDriveTypeW \"C:\\\" -> 3 (fixed)",
                  "CreateFileW \"\\\\.\\Q:\" access=C0000000 share=00000003 disposition=3 "
                  "flags=00000000 -> INVALID_HANDLE_VALUE"}));
    EXPECT_TRUE(world.events().empty());
}

}  // namespace

// Message maps: entries searched in their order, the class's own map before its base's, commands
// told apart by notification code and id, and commands no window handles routed to the
// application.
#include <gtest/gtest.h>

#include "app/afx/afxwin.h"
// the framework first
#include <string>
#include <vector>

#include "app/zelquin_app.h"

namespace {

class BaseTarget : public CWnd {
  public:
    std::vector<std::string> calls;

  protected:
    void OnBaseOnly() { calls.push_back("base only"); }
    void OnShared() { calls.push_back("base shared"); }
    LRESULT OnApp(WPARAM wParam, LPARAM lParam) {
        calls.push_back("base app");
        return static_cast<LRESULT>(wParam) + lParam;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseTarget, CWnd)
ON_COMMAND(101, BaseTarget::OnBaseOnly)
ON_COMMAND(102, BaseTarget::OnShared)
ON_MESSAGE(WM_APP, BaseTarget::OnApp)
END_MESSAGE_MAP()

class DerivedTarget : public BaseTarget {
  protected:
    void OnShared() { calls.push_back("derived shared"); }
    void OnFirst() { calls.push_back("derived first"); }
    void OnSecond() { calls.push_back("derived second"); }
    void OnSelChange() { calls.push_back("derived selchange"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedTarget, BaseTarget)
ON_COMMAND(102, DerivedTarget::OnShared)
ON_BN_CLICKED(103, DerivedTarget::OnFirst)
ON_BN_CLICKED(103, DerivedTarget::OnSecond)
ON_CBN_SELCHANGE(103, DerivedTarget::OnSelChange)
END_MESSAGE_MAP()

TEST(MessageMapTest, OwnEntriesFirstInOrderThenTheBase) {
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        BOOL handled;
        std::vector<std::string> calls;
        LRESULT result;
    } cases[] = {
        {"a command only the base names",
         WM_COMMAND,
         MAKEWPARAM(101, 0),
         0,
         TRUE,
         {"base only"},
         0},
        {"a command both name", WM_COMMAND, MAKEWPARAM(102, 0), 0, TRUE, {"derived shared"}, 0},
        {"two entries for one command",
         WM_COMMAND,
         MAKEWPARAM(103, BN_CLICKED),
         0,
         TRUE,
         {"derived first"},
         0},
        {"the same id, another code",
         WM_COMMAND,
         MAKEWPARAM(103, CBN_SELCHANGE),
         0,
         TRUE,
         {"derived selchange"},
         0},
        {"a code no entry names", WM_COMMAND, MAKEWPARAM(103, CBN_DROPDOWN), 0, FALSE, {}, 0},
        {"an id no entry names", WM_COMMAND, MAKEWPARAM(104, 0), 0, FALSE, {}, 0},
        {"a message of the base, with its result", WM_APP, 2, 3, TRUE, {"base app"}, 5},
        {"a message no map names", WM_APP + 1, 0, 0, FALSE, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DerivedTarget target;
        LRESULT result = -1;
        EXPECT_EQ(target.OnWndMsg(c.message, c.wParam, c.lParam, &result), c.handled);
        EXPECT_EQ(target.calls, c.calls);
        if (c.handled) {
            EXPECT_EQ(result, c.result);
        }
    }
}

TEST(MessageMapTest, FindsTheFirstEntryAlongTheChain) {
    struct Probe : DerivedTarget {
        static const AFX_MSGMAP* Map() { return GetThisMessageMap(); }
    };
    const AFX_MSGMAP* map = Probe::Map();
    const AFX_MSGMAP_ENTRY* first = AfxFindMessageEntry(map, WM_COMMAND, BN_CLICKED, 103);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, &map->lpEntries[1]);
    const AFX_MSGMAP_ENTRY* base = AfxFindMessageEntry(map, WM_APP, 0, 0);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base, &map->pfnGetBaseMap()->lpEntries[2]);
    EXPECT_EQ(AfxFindMessageEntry(map, WM_PAINT, 0, 0), nullptr);
}

// The application's map: help is its one command, and a window routes what it does not handle
// there.
TEST(MessageMapTest, CommandsNoWindowHandlesReachTheApplication) {
    ASSERT_EQ(AfxGetApp(), &g_app);
    EXPECT_TRUE(g_app.OnCmdMsg(ID_HELP, 0));
    EXPECT_FALSE(g_app.OnCmdMsg(ID_HELP, 1));
    EXPECT_FALSE(g_app.OnCmdMsg(IDOK, 0));

    DerivedTarget window;
    LRESULT result = 0;
    EXPECT_TRUE(window.OnWndMsg(WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0, &result));
    EXPECT_FALSE(window.OnWndMsg(WM_COMMAND, MAKEWPARAM(ID_HELP + 1, 0), 0, &result));
    EXPECT_TRUE(window.calls.empty());
}

}  // namespace

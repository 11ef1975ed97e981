// The tool on the simulated backend against the hostile camera (sim/hostile.h), for many seeds:
// whatever the camera answers, the tool never reports success for a command the camera did not
// complete (GOOD status and its whole answer), every value it reports in JSON comes from
// a completed command, and a refusal's message names a sense key only where the sense data's
// format has one, and then the key the device sent. Here the sense data reaches the tool as the
// camera sent it (the guest's USB path has the kernel's own sense handling in between), so this
// is where malformed sense meets the tool's decoding. The camera answers the hang, unplug and
// storm as usual here; the guest's scenarios carry those out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/trace_writer.h"
#include "tests/cli/cli_fixture.h"

namespace {

using Json = nlohmann::json;
using zqtest::CliTest;
using zqtest::ToolRun;

// A vendor command is complete with GOOD status and its whole 8-byte answer, read or set alike.
constexpr std::uint32_t kWholeAnswer = 8;

bool Completed(const sim::Event& event) {
    return event.result && event.scsiStatus == 0 && event.dataBytes >= kWholeAnswer;
}

std::string Describe(const sim::Event& event) {
    return sim::TraceLine(event) +
           (event.hostile ? "\n    " + sim::HostileTraceLine(*event.hostile) : std::string());
}

class HostileTool : public CliTest {
  protected:
    // The vendor pass-through requests since the last call.
    std::vector<sim::Event> TakeVendorRequests() {
        std::vector<sim::Event> requests;
        for (const sim::Event& event : world.PassThroughRequests()) {
            if (event.VendorCode() >= 0) {
                requests.push_back(event);
            }
        }
        world.ClearTrace();
        return requests;
    }

    static const sim::Event* Last(const std::vector<sim::Event>& requests, int code, bool get) {
        for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
            if (it->VendorCode() == code && (it->cdb[4] == 0x60) == get) {
                return &*it;
            }
        }
        return nullptr;
    }

    void Need(const std::vector<sim::Event>& requests, const char* what, int code, bool get) {
        const sim::Event* request = Last(requests, code, get);
        EXPECT_TRUE(request != nullptr && Completed(*request))
            << what << " reported, but command " << code << (get ? " (get) " : " (set) ")
            << (request != nullptr ? Describe(*request) : "never came");
    }

    void CheckValues(const Json& camera, const std::vector<sim::Event>& requests) {
        if (!camera["state"].is_null()) {
            Need(requests, "the state", 14, true);
        }
        if (!camera["firmware"].is_null()) {
            for (const int code : {26, 27, 28}) {
                Need(requests, "the firmware", code, true);
            }
        }
        const std::pair<const char*, int> settings[] = {
            {"overwrite", 2}, {"timestamp", 11}, {"resolution", 1}};
        for (const auto& [name, code] : settings) {
            if (!camera["settings"][name].is_null()) {
                Need(requests, name, code, true);
            }
        }
        if (camera.contains("changes")) {
            for (const Json& change : camera["changes"]) {
                if (change["confirmed"] == true) {
                    for (const auto& [name, code] : settings) {
                        if (change["setting"] == name) {
                            Need(requests, "a confirmed change", code, false);
                            Need(requests, "a confirmed change", code, true);
                        }
                    }
                }
            }
        }
        if (camera.contains("clock") && !camera["clock"].is_null()) {
            Need(requests, "the clock", 4, false);
            Need(requests, "the clock", 3, false);
        }
    }

    // A refusal's message tells the sense key exactly where the sense data has one: the message
    // of the refused command ("the camera refused get loop recording (command 2): ...") against
    // the sense data the camera sent for it.
    void CheckSenseMessage(const std::string& message, const std::vector<sim::Event>& requests) {
        const std::size_t refused = message.find("the camera refused ");
        const std::size_t command = message.find("(command ");
        if (refused == std::string::npos || command == std::string::npos) {
            return;
        }
        const bool get = message.compare(refused + 19, 4, "get ") == 0;
        const int code = std::atoi(message.c_str() + command + 9);
        const sim::Event* sent = nullptr;
        for (const sim::Event& request : requests) {
            if (request.VendorCode() == code && (request.cdb[4] == 0x60) == get &&
                request.scsiStatus != 0) {
                sent = &request;
                break;
            }
        }
        ASSERT_NE(sent, nullptr) << "no refused command " << code << " for: " << message;
        if (!sent->hostile || sent->hostile->sense.empty()) {
            return;
        }
        const std::vector<std::uint8_t>& sense = sent->hostile->sense;
        const std::uint8_t format = sense[0] & 0x7F;
        const bool fixed = (format == 0x70 || format == 0x71) && sense.size() >= 3;
        const bool descriptor = (format == 0x72 || format == 0x73) && sense.size() >= 4;
        SCOPED_TRACE(Describe(*sent));
        if (!fixed && !descriptor) {
            EXPECT_EQ(message.find("sense key 0x"), std::string::npos) << message;
            return;
        }
        char key[32];
        std::snprintf(key, sizeof key, "sense key 0x%X ",
                      static_cast<unsigned>((fixed ? sense[2] : sense[1]) & 0x0F));
        EXPECT_NE(message.find(key), std::string::npos) << message;
        ++senseMessages;
    }

    int senseMessages = 0;
};

TEST_F(HostileTool, NeverTakesAFailureForSuccess) {
    int refusals = 0;
    int successes = 0;
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        world.Reset();
        world.AddDisk('C');
        world.PlugCamera('E');
        sim::HostileSettings settings;
        settings.seed = seed;
        world.SetHostile(settings);
        const std::vector<std::vector<std::string>> commands = {
            {"status", "--json"},
            {"set", "overwrite=on", "timestamp=on", "resolution=720p", "--json"},
            {"sync-time", "--json"},
            {"list", "--json"},
            {"status"},
        };
        for (const std::vector<std::string>& args : commands) {
            SCOPED_TRACE(args[0]);
            const ToolRun run = Run(args);
            const std::vector<sim::Event> requests = TakeVendorRequests();
            ASSERT_NE(run.exit, 1) << "an internal error: " << run.err;
            if (run.exit == 0) {
                ++successes;
                for (const sim::Event& request : requests) {
                    EXPECT_TRUE(Completed(request))
                        << "success told although the camera did not complete:\n"
                        << Describe(request);
                }
            } else {
                ++refusals;
            }
            if (args.back() != "--json") {
                CheckSenseMessage(run.err, requests);
            } else {
                const Json document = Json::parse(run.out, nullptr, false);
                ASSERT_FALSE(document.is_discarded()) << run.out;
                EXPECT_EQ(document["exit_code"], run.exit);
                if (document["error"].is_object()) {
                    CheckSenseMessage(document["error"]["message"].get<std::string>(), requests);
                }
                for (const Json& camera : document["cameras"]) {
                    CheckValues(camera, requests);
                }
            }
        }
    }
    // The seeds give both outcomes plenty of times, or the table shows nothing (89 of the 1000
    // runs succeed with these seeds, the camera's every answer whole).
    EXPECT_GT(successes, 50);
    EXPECT_GT(refusals, 100);
    EXPECT_GT(senseMessages, 100);
}

}  // namespace

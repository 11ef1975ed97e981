// The hostile camera: a seeded generator that decides, for each request that reaches the
// simulated camera, how it misbehaves, so that the programs on top can be shown to survive every
// misbehaviour a USB camera is capable of and never take a failed command for a completed one.
//
//     sim::HostileSettings settings;
//     settings.seed = 7;
//     world.SetHostile(settings);     // or the world file's line: hostile seed=7
//
// Each request to the camera (every command, or only the vendor blocks with `vendorOnly`) draws
// one action from the generator, in the order the requests come:
//
//   normal            answered as usual
//   none short exact long
//                     GOOD status with no data, fewer bytes than the command answers, exactly
//                     as many bytes but random ones, or more bytes (random ones after the
//                     answer); the command takes effect
//   status            a random status other than GOOD, no sense data; the answer's data is kept
//                     or dropped at random; no effect
//   sense-fixed sense-descriptor
//                     CHECK CONDITION with well-formed sense data: fixed format (response code
//                     0x70 or 0x71, 18 bytes) or descriptor format (0x72 or 0x73, one
//                     information descriptor), any sense key, NO SENSE included; no effect
//   sense-overlong    CHECK CONDITION with sense data whose additional length (byte 7) reaches
//                     beyond the bytes sent, in fixed or descriptor format; no effect
//   sense-badcode     CHECK CONDITION with response code 0x7F (left to vendors) and otherwise
//                     fixed-format bytes; no effect
//   sense-garbage     CHECK CONDITION with 1 to 32 random bytes as sense data; no effect
//   hang              no answer for `hangMs` milliseconds, then the answer
//   unplug            the camera leaves while the command is pending (never answered) and comes
//                     back once, `replugMs` later
//   storm             as unplug, then the camera comes back and leaves again `stormPlugs` times
//                     in quick succession before it stays
//
// The first eleven change only the bytes of the answer, and the camera model carries them out
// inside its own answer (CameraModel::Answer, sim/camera_model.h, which World::AnswerCdb and the
// pass-through call use), so every user of the World meets them. The last three need the server
// that carries the camera to its host (the guest's USB/IP camera, the virtual camera's service):
// the camera model answers such a request as usual, carries the command out, and hands the action
// back with the answer (ScsiAnswer::hostile, Event::hostile); the server then does what ForServer()
// actions say. A server that cannot carry one out answers as usual and so loses nothing but that
// action.
//
// The generator is splitmix64 with its own range reduction, so a seed gives the same actions on
// every compiler and platform. Every action is written as a trace line (HostileTraceLine) so a
// run can be counted and replayed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class HostileKind : std::uint8_t {
    kNormal,
    kDataNone,
    kDataShort,
    kDataExact,
    kDataLong,
    kStatus,
    kSenseFixed,
    kSenseDescriptor,
    kSenseOverlong,
    kSenseBadCode,
    kSenseGarbage,
    kHang,
    kUnplug,
    kStorm,
};
inline constexpr std::size_t kHostileKindCount = 14;

// The name of a kind as the world file and the trace write it ("sense-overlong").
std::string_view HostileKindName(HostileKind kind);
std::optional<HostileKind> HostileKindNamed(std::string_view name);

// The deterministic generator: splitmix64, and a range reduction by rejection that gives every
// value below `bound` the same chance.
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // A value from 0 to bound - 1; 0 when `bound` is 0.
    std::uint32_t Below(std::uint32_t bound);

  private:
    std::uint64_t state_;
};

// What the world file's hostile line says.
struct HostileSettings {
    std::uint64_t seed = 0;
    // How often each kind is drawn, relative to the others; a kind of weight 0 never is.
    std::array<std::uint32_t, kHostileKindCount> weights = {
        50,  // normal
        3,   // none
        5,   // short
        3,   // exact
        3,   // long
        5,   // status
        4,   // sense-fixed
        4,   // sense-descriptor
        4,   // sense-overlong
        3,   // sense-badcode
        3,   // sense-garbage
        2,   // hang
        2,   // unplug
        1,   // storm
    };
    std::uint32_t hangMs = 3000;    // how long a hang keeps the answer back
    std::uint32_t replugMs = 1000;  // how long an unplugged camera stays away
    std::uint32_t stormPlugs = 3;   // how many times a storm brings the camera back and away
    bool vendorOnly = false;        // only the vendor blocks (CDB byte 0 0xFA) draw actions

    std::uint32_t& weight(HostileKind kind) { return weights[static_cast<std::size_t>(kind)]; }
    bool operator==(const HostileSettings&) const = default;
};

// One decision, and once carried out, what was answered.
struct HostileAction {
    std::uint64_t request = 0;  // 1 for the first request that drew an action, and so on
    HostileKind kind = HostileKind::kNormal;
    char letter = 0;                     // the camera's letter
    std::array<std::uint8_t, 16> cdb{};  // the request's CDB (zeros past its length)
    std::uint32_t amount = 0;            // drawn: bytes kept (short), added (long), ...
    std::uint8_t status = 0;             // drawn status, then the status answered
    std::uint64_t noise = 0;             // seed of the random bytes the action writes
    std::uint32_t hangMs = 0;            // hang: how long
    std::uint32_t replugMs = 0;          // unplug, storm: how long the camera stays away
    std::uint32_t stormPlugs = 0;        // storm: how many times it comes back and leaves
    // After CarryOut: the answer as sent.
    std::uint32_t dataBytes = 0;
    std::vector<std::uint8_t> sense;

    // The action needs the server: hang, unplug, storm.
    bool ForServer() const {
        return kind == HostileKind::kHang || kind == HostileKind::kUnplug ||
               kind == HostileKind::kStorm;
    }
    // The camera carries the command out (its effect happens): every action that leaves the
    // status GOOD, and those of the server, whose command reached the camera.
    bool TakesEffect() const;
    // The host may take the command as completed: GOOD status and the answer's full length.
    // The server's actions never complete (a hang that is waited out does, which the server
    // records on its own).
    bool Completes(std::size_t fullLength) const;
};

// The generator of one hostile camera: the settings and where the draws have got to.
class HostileCamera {
  public:
    explicit HostileCamera(const HostileSettings& settings)
        : settings_(settings), random_(settings.seed) {}

    const HostileSettings& settings() const { return settings_; }
    std::uint64_t requests() const { return requests_; }

    // Whether a request with this CDB draws an action.
    bool Draws(const std::uint8_t* cdb) const;
    // The action for the next request (on `letter`, with the first `cdbLength` bytes of `cdb`).
    // Every draw it makes is the same for the same seed and the same sequence of calls.
    HostileAction Decide(char letter, const std::uint8_t* cdb, std::uint8_t cdbLength);

  private:
    HostileSettings settings_;
    SplitMix64 random_;
    std::uint64_t requests_ = 0;
};

// Carries out what of `action` lies in the answer's bytes: `status`, `data` and `sense`
// hold the camera's usual answer on entry and the hostile one on return; the action records
// what was answered (status, dataBytes, sense). The server's actions leave the answer as it is.
void CarryOut(HostileAction& action, std::uint8_t& status, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& sense);

// The trace line of an action, for example
//   Hostile E: request=12 kind=sense-overlong cdb=FA 55 ... -> status=02 data=0
//       sense=70 00 05 00 00 00 00 F0 00 00 00 00 24 00 00 00 00 00
//   Hostile E: request=13 kind=hang ms=3000 cdb=FA 55 ...
// (each on one line).
std::string HostileTraceLine(const HostileAction& action);

}  // namespace sim

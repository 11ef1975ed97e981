#include "sim/hostile.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr std::array<std::string_view, kHostileKindCount> kKindNames = {
    "normal",         "none",          "short",         "exact",
    "long",           "status",        "sense-fixed",   "sense-descriptor",
    "sense-overlong", "sense-badcode", "sense-garbage", "hang",
    "unplug",         "storm",
};

constexpr std::uint8_t kOpVendor = 0xFA;
constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;

// The statuses a status action answers with: CHECK CONDITION without sense data, CONDITION MET,
// BUSY, the obsolete INTERMEDIATE ones, RESERVATION CONFLICT, COMMAND TERMINATED, TASK SET FULL,
// ACA ACTIVE, TASK ABORTED; and one in eight times any byte but GOOD.
constexpr std::array<std::uint8_t, 10> kStatuses = {0x02, 0x04, 0x08, 0x10, 0x14,
                                                    0x18, 0x22, 0x28, 0x30, 0x40};

// Fixed-format sense layout.
constexpr std::size_t kFixedSize = 18;
constexpr std::size_t kFixedKey = 2;
constexpr std::size_t kFixedAdditionalLength = 7;
constexpr std::size_t kFixedAsc = 12;
constexpr std::size_t kFixedAscq = 13;
// Descriptor-format sense layout: an 8-byte head and one information descriptor of 12 bytes.
constexpr std::size_t kDescriptorHead = 8;
constexpr std::size_t kDescriptorKey = 1;
constexpr std::size_t kDescriptorAsc = 2;
constexpr std::size_t kDescriptorAscq = 3;
constexpr std::size_t kDescriptorAdditionalLength = 7;
constexpr std::size_t kInformationDescriptorSize = 12;

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    char piece[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += piece;
    }
    return text;
}

std::vector<std::uint8_t> Noise(std::uint64_t seed, std::size_t count) {
    SplitMix64 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(random.Next() >> 56);
    }
    return bytes;
}

// Well-formed sense data of either format, from the action's drawn numbers: the key, ASC and
// ASCQ come from `noise`, the format's response code (current or deferred) from `amount`.
std::vector<std::uint8_t> WellFormedSense(bool descriptor, std::uint32_t amount,
                                          std::uint64_t noise) {
    const std::vector<std::uint8_t> drawn = Noise(noise, 3);
    const auto key = static_cast<std::uint8_t>(drawn[0] & 0x0F);
    const bool deferred = (amount & 1) != 0;
    if (!descriptor) {
        std::vector<std::uint8_t> sense(kFixedSize, 0);
        sense[0] = deferred ? 0x71 : 0x70;
        sense[kFixedKey] = key;
        sense[kFixedAdditionalLength] = kFixedSize - 8;
        sense[kFixedAsc] = drawn[1];
        sense[kFixedAscq] = drawn[2];
        return sense;
    }
    std::vector<std::uint8_t> sense(kDescriptorHead + kInformationDescriptorSize, 0);
    sense[0] = deferred ? 0x73 : 0x72;
    sense[kDescriptorKey] = key;
    sense[kDescriptorAsc] = drawn[1];
    sense[kDescriptorAscq] = drawn[2];
    sense[kDescriptorAdditionalLength] = kInformationDescriptorSize;
    sense[kDescriptorHead] = 0x00;  // information descriptor
    sense[kDescriptorHead + 1] = 0x0A;
    sense[kDescriptorHead + 2] = 0x80;  // VALID
    return sense;
}

}  // namespace

std::string_view HostileKindName(HostileKind kind) {
    const auto index = static_cast<std::size_t>(kind);
    return index < kKindNames.size() ? kKindNames[index] : std::string_view("?");
}

std::optional<HostileKind> HostileKindNamed(std::string_view name) {
    for (std::size_t i = 0; i < kKindNames.size(); ++i) {
        if (kKindNames[i] == name) {
            return static_cast<HostileKind>(i);
        }
    }
    return std::nullopt;
}

std::uint64_t SplitMix64::Next() {
    state_ += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint32_t SplitMix64::Below(std::uint32_t bound) {
    if (bound == 0) {
        return 0;
    }
    // Values below 2^64 mod bound would make the low results likelier; they are drawn again.
    const std::uint64_t limit = std::uint64_t{bound};
    const std::uint64_t reject = (0 - limit) % limit;
    std::uint64_t value = Next();
    while (value < reject) {
        value = Next();
    }
    return static_cast<std::uint32_t>(value % limit);
}

bool HostileAction::TakesEffect() const {
    switch (kind) {
        case HostileKind::kStatus:
        case HostileKind::kSenseFixed:
        case HostileKind::kSenseDescriptor:
        case HostileKind::kSenseOverlong:
        case HostileKind::kSenseBadCode:
        case HostileKind::kSenseGarbage:
            return false;
        default:
            return true;
    }
}

bool HostileAction::Completes(std::size_t fullLength) const {
    switch (kind) {
        case HostileKind::kNormal:
        case HostileKind::kDataExact:
        case HostileKind::kDataLong:
            return true;
        case HostileKind::kDataNone:
        case HostileKind::kDataShort:
            return dataBytes >= fullLength;
        default:
            return false;
    }
}

bool HostileCamera::Draws(const std::uint8_t* cdb) const {
    return !settings_.vendorOnly || cdb[0] == kOpVendor;
}

HostileAction HostileCamera::Decide(char letter, const std::uint8_t* cdb, std::uint8_t cdbLength) {
    HostileAction action;
    action.request = ++requests_;
    action.letter = letter;
    std::copy_n(cdb, std::min<std::size_t>(cdbLength, action.cdb.size()), action.cdb.begin());

    std::uint32_t total = 0;
    for (const std::uint32_t weight : settings_.weights) {
        total += weight;
    }
    // Every action draws the same four numbers, whatever its kind, so that the sequence of kinds
    // depends on the seed alone.
    std::uint32_t pick = random_.Below(total);
    action.amount = random_.Below(1u << 16);
    const std::uint32_t statusDraw = random_.Below(8 * kStatuses.size());
    action.noise = random_.Next();
    for (std::size_t i = 0; i < kHostileKindCount; ++i) {
        if (pick < settings_.weights[i]) {
            action.kind = static_cast<HostileKind>(i);
            break;
        }
        pick -= settings_.weights[i];
    }
    if (statusDraw < kStatuses.size()) {
        action.status = static_cast<std::uint8_t>(1 + action.noise % 255);  // anything but GOOD
    } else {
        action.status = kStatuses[statusDraw % kStatuses.size()];
    }
    if (action.kind == HostileKind::kHang) {
        action.hangMs = settings_.hangMs;
    }
    if (action.kind == HostileKind::kUnplug || action.kind == HostileKind::kStorm) {
        action.replugMs = settings_.replugMs;
    }
    if (action.kind == HostileKind::kStorm) {
        action.stormPlugs = settings_.stormPlugs;
    }
    return action;
}

void CarryOut(HostileAction& action, std::uint8_t& status, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& sense) {
    const std::size_t full = data.size();
    switch (action.kind) {
        case HostileKind::kNormal:
        case HostileKind::kHang:
        case HostileKind::kUnplug:
        case HostileKind::kStorm:
            break;
        case HostileKind::kDataNone:
            status = kStatusGood;
            data.clear();
            sense.clear();
            break;
        case HostileKind::kDataShort:
            status = kStatusGood;
            data.resize(full == 0 ? 0 : action.amount % full);
            sense.clear();
            break;
        case HostileKind::kDataExact:
            status = kStatusGood;
            data = Noise(action.noise, full);
            sense.clear();
            break;
        case HostileKind::kDataLong: {
            status = kStatusGood;
            const std::vector<std::uint8_t> extra = Noise(action.noise, 1 + action.amount % 64);
            data.insert(data.end(), extra.begin(), extra.end());
            sense.clear();
            break;
        }
        case HostileKind::kStatus:
            status = action.status;
            if ((action.amount & 1) != 0) {
                data.clear();
            }
            sense.clear();
            break;
        case HostileKind::kSenseFixed:
        case HostileKind::kSenseDescriptor:
            status = kStatusCheckCondition;
            data.clear();
            sense = WellFormedSense(action.kind == HostileKind::kSenseDescriptor, action.amount,
                                    action.noise);
            break;
        case HostileKind::kSenseOverlong: {
            status = kStatusCheckCondition;
            data.clear();
            const bool descriptor = (action.amount & 2) != 0;
            sense = WellFormedSense(descriptor, action.amount, action.noise);
            // The additional length claims from one byte to 200 bytes more than were sent.
            const std::size_t sent = sense.size() - 8;
            sense[7] = static_cast<std::uint8_t>(sent + 1 + (action.amount >> 2) % 200);
            break;
        }
        case HostileKind::kSenseBadCode:
            status = kStatusCheckCondition;
            data.clear();
            sense = WellFormedSense(false, 0, action.noise);
            sense[0] = 0x7F;
            break;
        case HostileKind::kSenseGarbage:
            status = kStatusCheckCondition;
            data.clear();
            sense = Noise(action.noise, 1 + action.amount % 32);
            break;
    }
    action.status = status;
    action.dataBytes = static_cast<std::uint32_t>(data.size());
    action.sense = sense;
}

std::string HostileTraceLine(const HostileAction& action) {
    std::string line = "Hostile ";
    line += action.letter == 0 ? '?' : action.letter;
    line += ": request=" + std::to_string(action.request) +
            " kind=" + std::string(HostileKindName(action.kind));
    if (action.kind == HostileKind::kHang) {
        line += " ms=" + std::to_string(action.hangMs);
    } else if (action.kind == HostileKind::kUnplug) {
        line += " away=" + std::to_string(action.replugMs);
    } else if (action.kind == HostileKind::kStorm) {
        line += " away=" + std::to_string(action.replugMs) +
                " plugs=" + std::to_string(action.stormPlugs);
    }
    line += " cdb=" + Hex(action.cdb.data(), action.cdb.size());
    if (!action.ForServer()) {
        line +=
            " -> status=" + Hex(&action.status, 1) + " data=" + std::to_string(action.dataBytes);
        if (!action.sense.empty()) {
            line += " sense=" + Hex(action.sense.data(), action.sense.size());
        }
    }
    return line;
}

}  // namespace sim

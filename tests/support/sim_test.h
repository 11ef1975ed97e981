// Shared test support: a fixture that starts every test on an empty simulated computer with the
// camera link holding nothing, and a hex notation for comparing bytes on the wire.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/camera.h"
#include "link/discovery.h"
#include "sim/system.h"
#include "sim/world.h"

namespace zqtest {

// "FA 55 66": upper-case hex bytes separated by single spaces.
template <typename Bytes>
std::string Hex(const Bytes& bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X",
                      static_cast<unsigned>(static_cast<std::uint8_t>(byte)));
        if (!text.empty()) {
            text += ' ';
        }
        text += two;
    }
    return text;
}

inline std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(bytes[i]));
        if (i != 0) {
            text += ' ';
        }
        text += two;
    }
    return text;
}

// Resets the simulated world and system and the camera link's process-wide state.
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        world.Reset();
        sim::TheSystem().Reset();
        g_hCamera = nullptr;
        g_nLinkError = 0;
        std::memset(g_szDevicePath, 0, sizeof g_szDevicePath);
        std::memset(g_szFirmware, 0, sizeof g_szFirmware);
    }

    void TearDown() override {
        world.SetObserver(nullptr);
        sim::TheSystem().SetObserver(nullptr);
    }

    sim::World& world = sim::TheWorld();
};

}  // namespace zqtest

// Bridges: the registry of live bases, attachment, and destruction from either end, also
// concurrently from two threads.

#include "Core/Bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using zel::CBridge;
using zel::CBridgeBase;

TEST(Bridge, BucketIndexFormula)
{
    // Worked by hand: xor of the address shifted by 4, 12, 20 and 28 bits, low 6 bits.
    const std::pair<std::uintptr_t, std::size_t> cases[] = {
        {0x0, 0},        {0x10, 1}, {0x3F0, 63}, {0x400, 0}, // 0x40 -> low 6 bits 0
        {0x1010, 0},                                         // 0x101 ^ 0x1 = 0x100
        {0xABCDEF0, 9},  // low 6 bits: 0x2F ^ 0x0D ^ 0x2B ^ 0x00 = 0x09
        {0x12345678, 0}, // 0x27 ^ 0x05 ^ 0x23 ^ 0x01 = 0x00
    };
    for (const auto& [address, bucket] : cases)
        EXPECT_EQ(CBridgeBase::bucketIndex(reinterpret_cast<const void*>(address)), bucket)
            << std::hex << address;
}

TEST(Bridge, AttachAndDetachFromEitherEnd)
{
    auto base = std::make_unique<CBridgeBase>();
    CBridge a(base.get(), 5);
    CBridge b;
    EXPECT_TRUE(b.attach(base.get()));
    EXPECT_EQ(a.value(), 5);
    EXPECT_EQ(base->bridgeCount(), 2u);
    EXPECT_EQ(CBridge::CAccess(a).base(), base.get());
    b.detach();
    {
        CBridge shortLived(base.get());
        EXPECT_EQ(base->bridgeCount(), 2u);
    }
    EXPECT_EQ(base->bridgeCount(), 1u);
    CBridgeBase* address = base.get();
    base.reset();
    EXPECT_FALSE(CBridgeBase::isRegistered(address));
    EXPECT_FALSE(a.isAttached());
    EXPECT_EQ(CBridge::CAccess(a).base(), nullptr);
    // A dead base cannot be attached to.
    EXPECT_FALSE(a.attach(address));
    EXPECT_FALSE(a.attach(nullptr));

    struct COwner
    {
    } owner;
    struct CAppData : CBridgeBase
    {
        int payload = 42;
    } data;
    zel::CApplicationDataBridge<COwner, CAppData> bridge(&owner);
    ASSERT_TRUE(bridge.attachData(&data));
    CBridge::CAccess access(bridge);
    ASSERT_NE(decltype(bridge)::dataOf(access), nullptr);
    EXPECT_EQ(decltype(bridge)::dataOf(access)->payload, 42);
}

TEST(Bridge, DestructionRacesFromTwoThreads)
{
    // Each round builds a base with several bridges, then destroys the base on one thread and
    // the bridges on another at the same moment. ASan reports any touch of freed memory.
    for (int round = 0; round < 300; ++round)
    {
        auto base = std::make_unique<CBridgeBase>();
        std::vector<std::unique_ptr<CBridge>> bridges;
        for (int i = 0; i < 8; ++i)
            bridges.push_back(std::make_unique<CBridge>(base.get(), i));
        std::atomic<int> ready{0};
        auto together = [&ready]
        {
            ready.fetch_add(1);
            while (ready.load() < 2)
                std::this_thread::yield();
        };
        std::thread baseSide(
            [&]
            {
                together();
                base.reset();
            });
        std::thread bridgeSide(
            [&]
            {
                together();
                for (auto& bridge : bridges)
                {
                    {
                        // A user holding the lock keeps the base alive for that time.
                        CBridge::CAccess access(*bridge);
                        EXPECT_TRUE(access.base() == nullptr ||
                                    CBridgeBase::isRegistered(access.base()));
                    }
                    bridge.reset();
                }
            });
        baseSide.join();
        bridgeSide.join();
    }
}

// Events: subscriptions, delivery through the tree's notification service, runEvent on
// description-built parameter objects, and targets that hold subscriptions.

#include "Core/NotifyServer.h"
#include "Core/Target.h"
#include "ObjectTestSupport.h"
#include "Support/Capture.h"
#include "Support/ErrorText.h"

using namespace ktest;
using zel::CText;

namespace
{
// Destroys `other` while it is being served, fails when asked, counts what reaches it.
class CSelfRemover : public CObject
{
public:
    static void registerClass(zel::CClassInfo& info)
    {
        CObject::registerClass(info);
        info.event<&CSelfRemover::onTick>("tick");
    }
    zel::CErrorPtr onTick(CObject& params)
    {
        ++ticks;
        if (other != nullptr)
            other->destroy(); // a later subscriber vanishes during delivery
        if (params.attribute("fail") == CText("yes"))
            return zel::makeError("zelstr_Test_tick", "tick failed");
        return nullptr;
    }
    int ticks = 0;
    CObject* other = nullptr;
};

class CEvents : public CObjectModelTest
{
protected:
    void SetUp() override
    {
        CObjectModelTest::SetUp();
        ASSERT_FALSE(registration.add<CSelfRemover>("test:self-remover"));
        sender = child(*root, "core:object", "timer");
        listener = static_cast<CProbe*>(child(*root, "test:probe", "view"));
    }
    std::size_t subscriptions() const { return root->notifyServer().subscriptionCount(); }
    CObject* sender = nullptr;
    CProbe* listener = nullptr;
};
} // namespace

TEST_F(CEvents, SubscriptionsDeliverSynchronouslyAndNeedAHandler)
{
    CText id;
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *listener, "ping", &id));
    ASSERT_FALSE(sender->sendEvent("tick"));
    ASSERT_EQ(listener->pings.size(), 1u);
    EXPECT_EQ(listener->pings[0], "/timer|tick|/view|" + id.toUtf8() + "|ping|");
    // Other events and other senders do not reach it.
    ASSERT_FALSE(sender->sendEvent("tock"));
    ASSERT_FALSE(listener->sendEvent("tick"));
    // Removing the subscription stops delivery.
    EXPECT_TRUE(CObject::unlistenObject(*sender, id));
    EXPECT_FALSE(CObject::unlistenObject(*sender, id));
    ASSERT_FALSE(sender->sendEvent("tick"));
    EXPECT_EQ(listener->pings.size(), 1u);
    // A handler the listener does not have is reported at subscription, also to the log.
    kelvtest::CCapture capture;
    zel::CErrorPtr err = CObject::listenObject(*sender, "tick", *listener, "no-such-handler");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Event handler 'no-such-handler' not found in listenObject().");
    EXPECT_EQ(capture.log(), std::vector<std::string>{err->text()});
    EXPECT_EQ(subscriptions(), 0u);
}

TEST_F(CEvents, RunEventOnParameterObjects)
{
    // An event-parameter object built like a description element.
    CObject* params = child(*root, "core:object", "params");
    params->setAttributeRaw("sender", "/timer");
    params->setAttributeRaw("event-name", "tick");
    params->setAttributeRaw("listener", "view");
    params->setAttributeRaw("listener-proc", "ping");
    ASSERT_FALSE(root->runEvent(*params));
    EXPECT_EQ(listener->pings.size(), 1u);
    EXPECT_EQ(listener->findSender(*params), sender);
    // The base class answers "release-child-bridged".
    params->setAttributeRaw("listener-proc", "release-child-bridged");
    EXPECT_FALSE(root->runEvent(*params));
    params->setAttributeRaw("listener-proc", "unknown-proc");
    zel::CErrorPtr err = root->runEvent(*params);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CObject_runEvent_UnknownEvent");
    EXPECT_EQ(err->text(), "Unknown event 'unknown-proc'.");
    EXPECT_NE(err->trail().at(0).find("// root.view"), std::string::npos);
    // A listener that has gone is dropped without an error.
    listener->destroy();
    params->setAttributeRaw("listener-proc", "ping");
    EXPECT_FALSE(root->runEvent(*params));
}

TEST_F(CEvents, ReleaseRemovesSubscriptionsOnBothSides)
{
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *listener, "ping"));
    ASSERT_FALSE(CObject::listenObject(*listener, "tick", *listener, "ping"));
    EXPECT_EQ(subscriptions(), 2u);
    listener->destroy();
    EXPECT_EQ(subscriptions(), 0u);
    EXPECT_FALSE(sender->sendEvent("tick"));
    auto* again = child(*root, "test:probe", "again");
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *again, "ping"));
    sender->destroy();
    EXPECT_EQ(subscriptions(), 0u);

    // A listener in another tree: that tree goes first, the sender's service forgets it.
    zel::CObjectPtr editor = CObject::make<CObject>();
    editor->setRootName("editor");
    CObject* view = child(*editor, "test:probe", "view");
    CObject* timer = child(*root, "core:object", "timer");
    ASSERT_FALSE(CObject::listenObject(*timer, "tick", *view, "ping"));
    ASSERT_FALSE(timer->sendEvent("tick"));
    EXPECT_EQ(static_cast<CProbe*>(view)->pings.size(), 1u);
    editor.reset();
    EXPECT_EQ(subscriptions(), 0u);
    EXPECT_FALSE(timer->sendEvent("tick"));
}

TEST_F(CEvents, HandlersMayRemoveSubscribersAndErrorsDoNotStopDelivery)
{
    auto* first = static_cast<CSelfRemover*>(child(*root, "test:self-remover", "a"));
    CObject* b = child(*root, "test:self-remover", "b");
    first->other = b;
    const zel::CObjectRef bRef = b->weakRef();
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *first, "tick"));
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *b, "tick"));
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *listener, "ping"));
    zel::CErrorPtr err = sender->sendEvent("tick", {{"fail", "yes"}});
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "tick failed");
    EXPECT_EQ(first->ticks, 1);
    EXPECT_FALSE(bRef);
    EXPECT_EQ(listener->pings.size(), 1u) << "later subscribers are still served";
}

TEST_F(CEvents, SubscriptionsFollowAMovedSubtree)
{
    zel::CObjectPtr other = CObject::make<CObject>();
    other->setRootName("other");
    ASSERT_FALSE(CObject::listenObject(*sender, "tick", *listener, "ping"));
    zel::CObjectPtr moved = sender->detachFromParent();
    EXPECT_EQ(subscriptions(), 0u);
    ASSERT_FALSE(moved->sendEvent("tick"));
    ASSERT_FALSE(other->addChild(std::move(moved), "timer"));
    EXPECT_EQ(other->notifyServer().subscriptionCount(), 1u);
    ASSERT_FALSE(other->findChild("timer")->sendEvent("tick"));
    ASSERT_EQ(listener->pings.size(), 2u);
    EXPECT_TRUE(listener->pings[1].starts_with("/timer|tick|/"));
}

TEST_F(CEvents, TargetsResolveCheckListenAndRelease)
{
    listener->setAttributeRaw("target", "/timer");
    listener->setAttributeRaw("wrong", "/view");
    zel::CTarget<CObject> target;
    ASSERT_FALSE(target.resolveAttribute(*listener, "target"));
    EXPECT_EQ(target.get(), sender);
    ASSERT_FALSE(target.listen("tick", "ping"));
    EXPECT_EQ(subscriptions(), 1u);
    target.release();
    EXPECT_EQ(subscriptions(), 0u);
    EXPECT_EQ(target.get(), nullptr);

    zel::CTarget<CSelfRemover> typed;
    EXPECT_TRUE(kelvtest::idAndText(typed.resolveAttribute(*listener, "wrong"))
                    .starts_with("zelstr_CTarget_resolve_InvalidClass: "));
    EXPECT_TRUE(kelvtest::idAndText(typed.resolveAttribute(*listener, "nothing"))
                    .starts_with("zelstr_CTarget_resolve_NotFound: "));
    EXPECT_FALSE(typed.resolveAttribute(*listener, "nothing", false));
    EXPECT_FALSE(typed);

    // A listened target forwards to its holder; an event the holder cannot handle fails.
    auto* holder = static_cast<CSelfRemover*>(child(*root, "test:self-remover", "holder"));
    holder->setAttributeRaw("timer", "/timer");
    zel::CTargetListened<CObject> forwarded;
    ASSERT_FALSE(forwarded.resolveAndForward(*holder, "timer", {"tick"}));
    ASSERT_FALSE(sender->sendEvent("tick"));
    EXPECT_EQ(holder->ticks, 1);
    EXPECT_TRUE(forwarded.forward({"view-area-update"}));

    // The target goes first: the pointer turns null and release is harmless.
    ASSERT_FALSE(target.resolveAttribute(*listener, "target"));
    ASSERT_FALSE(target.listen("tick", "ping"));
    sender->destroy();
    EXPECT_EQ(target.get(), nullptr);
    EXPECT_EQ(forwarded.get(), nullptr);
}

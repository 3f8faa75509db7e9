#pragma once
// AEffEditor: the base of an effect's editor as a VST 2.4 host drives it through the effect's
// dispatcher (get the rectangle, open inside a parent window, idle, close, keys, wheel). The
// defaults are the interface's neutral answers: no rectangle, nothing opened, keys and wheel
// not handled.
//
// This is not a window or a view: a derived editor builds those inside the host's window.

#include <cstdint>

namespace zel
{

class AudioEffect;

namespace vst
{
struct ERect;
}

class AEffEditor
{
public:
    explicit AEffEditor(AudioEffect* effect = nullptr) : m_effect(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    AudioEffect* getEffect() const { return m_effect; }

    // Hands the host the editor's rectangle; false when there is none.
    virtual bool getRect(vst::ERect** rect)
    {
        *rect = nullptr;
        return false;
    }
    // Opens the editor inside the host's window; true when it opened.
    virtual bool open(void* parentWindow)
    {
        m_systemWindow = parentWindow;
        return false;
    }
    virtual void close() { m_systemWindow = nullptr; }
    virtual bool isOpen() const { return m_systemWindow != nullptr; }
    virtual void idle() {}

    // Keys from the host (effEditKeyDown/Up): true when the editor used the key.
    virtual bool onKeyDown(std::int32_t character, std::int32_t virtualKey, std::int32_t modifiers)
    {
        (void)character;
        (void)virtualKey;
        (void)modifiers;
        return false;
    }
    virtual bool onKeyUp(std::int32_t character, std::int32_t virtualKey, std::int32_t modifiers)
    {
        (void)character;
        (void)virtualKey;
        (void)modifiers;
        return false;
    }
    // A mouse-wheel amount the host forwards; true when the editor used it.
    virtual bool onWheel(float distance)
    {
        (void)distance;
        return false;
    }
    virtual bool setKnobMode(std::int32_t mode)
    {
        (void)mode;
        return false;
    }

protected:
    void* systemWindow() const { return m_systemWindow; }

private:
    AudioEffect* m_effect;
    void* m_systemWindow = nullptr;
};

} // namespace zel

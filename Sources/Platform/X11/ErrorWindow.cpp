// The error window on X11: a small top-level window with the message, a framed details field
// and a Close button, served by its own event loop on its own display connection (so it may
// be shown from any thread). Ctrl+Insert (or Ctrl+C) offers the details as the clipboard and
// primary selection for as long as the window is open. Without a display the message and the
// details are written to standard error.

#include "Platform/ErrorWindow.h"
#include "Platform/X11/ErrorWindowX11.h"

#include "Core/Text.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace zel::platform
{
namespace
{

constexpr int kWidth = 540;
constexpr int kHeight = 380;
constexpr int kMargin = 12;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;

// Core X fonts draw Latin-1; other characters become '?'.
std::string toLatin1(std::string_view utf8)
{
    const CText text = CText::fromUtf8(utf8);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        out += text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    return out;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos)
            return lines;
        start = end + 1;
    }
}

int textWidth(XFontStruct* font, const std::string& text)
{
    return XTextWidth(font, text.data(), static_cast<int>(text.size()));
}

// Breaks each paragraph into lines no wider than width, at spaces where possible.
std::vector<std::string> wrap(XFontStruct* font, const std::string& text, int width)
{
    std::vector<std::string> out;
    for (const std::string& paragraph : splitLines(text))
    {
        std::string line;
        std::size_t pos = 0;
        while (pos < paragraph.size())
        {
            std::size_t end = paragraph.find(' ', pos);
            if (end == std::string::npos)
                end = paragraph.size();
            const std::string word = paragraph.substr(pos, end - pos);
            const std::string candidate = line.empty() ? word : line + ' ' + word;
            if (!line.empty() && textWidth(font, candidate) > width)
            {
                out.push_back(line);
                line = word;
            }
            else
                line = candidate;
            pos = end + 1;
        }
        out.push_back(line);
    }
    return out;
}

XFontStruct* loadFont(Display* display)
{
    // A Verdana-like face at a pixel height of 12, then look-alikes, then the server's default.
    static const char* const patterns[] = {
        "-*-verdana-medium-r-normal--12-*-*-*-*-*-iso8859-1",
        "-*-dejavu sans-medium-r-normal--12-*-*-*-*-*-iso8859-1",
        "-*-helvetica-medium-r-normal--12-*-*-*-*-*-iso8859-1",
        "fixed",
    };
    for (const char* pattern : patterns)
        if (XFontStruct* font = XLoadQueryFont(display, pattern))
            return font;
    return nullptr;
}

class CX11ErrorWindow
{
public:
    CX11ErrorWindow(Display* display, XFontStruct* font, std::string_view title,
                    std::string_view message, std::string_view details)
        : m_display(display), m_font(font), m_title(toLatin1(title)),
          m_details(std::string(details)), m_detailLines(splitLines(toLatin1(details))),
          m_messageLines(wrap(font, toLatin1(message), kWidth - 2 * kMargin))
    {
    }

    bool create()
    {
        const int screen = DefaultScreen(m_display);
        m_window =
            XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, 0, kWidth, kHeight, 1,
                                BlackPixel(m_display, screen), WhitePixel(m_display, screen));
        if (m_window == 0)
            return false;
        XStoreName(m_display, m_window, m_title.c_str());
        XClassHint classHint;
        std::string className(kErrorWindowClass);
        classHint.res_name = className.data();
        classHint.res_class = className.data();
        XSetClassHint(m_display, m_window, &classHint);
        XSizeHints* size = XAllocSizeHints();
        if (size != nullptr)
        {
            size->flags = PMinSize | PMaxSize;
            size->min_width = size->max_width = kWidth;
            size->min_height = size->max_height = kHeight;
            XSetWMNormalHints(m_display, m_window, size);
            XFree(size);
        }
        m_deleteWindow = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
        m_clipboard = XInternAtom(m_display, "CLIPBOARD", False);
        m_targets = XInternAtom(m_display, "TARGETS", False);
        m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        m_text = XInternAtom(m_display, "TEXT", False);
        XSetWMProtocols(m_display, m_window, &m_deleteWindow, 1);
        XSelectInput(m_display, m_window,
                     ExposureMask | KeyPressMask | ButtonPressMask | StructureNotifyMask);
        m_gc = XCreateGC(m_display, m_window, 0, nullptr);
        XSetFont(m_display, m_gc, m_font->fid);
        XMapRaised(m_display, m_window);
        return true;
    }

    ~CX11ErrorWindow()
    {
        if (m_gc != nullptr)
            XFreeGC(m_display, m_gc);
        if (m_window != 0)
            XDestroyWindow(m_display, m_window);
        XFlush(m_display);
    }

    // Serves events until the window is closed (or, for tests, until it has been drawn).
    void run(bool closeWhenDrawn)
    {
        bool open = true;
        while (open)
        {
            XEvent event;
            XNextEvent(m_display, &event);
            switch (event.type)
            {
            case Expose:
                if (event.xexpose.count == 0)
                {
                    draw();
                    open = !closeWhenDrawn;
                }
                break;
            case KeyPress:
                open = onKey(event.xkey);
                break;
            case ButtonPress:
                open = onButton(event.xbutton);
                break;
            case ClientMessage:
                if (static_cast<Atom>(event.xclient.data.l[0]) == m_deleteWindow)
                    open = false;
                break;
            case SelectionRequest:
                answerSelection(event.xselectionrequest);
                break;
            default:
                break;
            }
        }
    }

private:
    int lineHeight() const { return m_font->ascent + m_font->descent + 2; }
    int detailsTop() const
    {
        return kMargin + static_cast<int>(m_messageLines.size()) * lineHeight() + kMargin;
    }
    int buttonTop() const { return kHeight - kMargin - kButtonHeight; }
    int buttonLeft() const { return kWidth - kMargin - kButtonWidth; }
    int visibleDetailLines() const
    {
        return std::max(1, (buttonTop() - kMargin - detailsTop() - 8) / lineHeight());
    }

    void drawText(int x, int y, const std::string& text)
    {
        XDrawString(m_display, m_window, m_gc, x, y, text.data(), static_cast<int>(text.size()));
    }

    void draw()
    {
        XClearWindow(m_display, m_window);
        int y = kMargin + m_font->ascent;
        for (const std::string& line : m_messageLines)
        {
            drawText(kMargin, y, line);
            y += lineHeight();
        }
        // The details field: a frame with the visible part of the details, clipped to it.
        const int top = detailsTop();
        const int boxHeight = buttonTop() - kMargin - top;
        XDrawRectangle(m_display, m_window, m_gc, kMargin, top, kWidth - 2 * kMargin,
                       static_cast<unsigned>(boxHeight));
        XRectangle clip{static_cast<short>(kMargin + 1), static_cast<short>(top + 1),
                        static_cast<unsigned short>(kWidth - 2 * kMargin - 2),
                        static_cast<unsigned short>(boxHeight - 2)};
        XSetClipRectangles(m_display, m_gc, 0, 0, &clip, 1, Unsorted);
        y = top + 4 + m_font->ascent;
        const int last = std::min(static_cast<int>(m_detailLines.size()),
                                  m_firstDetailLine + visibleDetailLines());
        for (int i = m_firstDetailLine; i < last; ++i)
        {
            drawText(kMargin + 4, y, m_detailLines[static_cast<std::size_t>(i)]);
            y += lineHeight();
        }
        XSetClipMask(m_display, m_gc, None);
        // The Close button.
        XDrawRectangle(m_display, m_window, m_gc, buttonLeft(), buttonTop(), kButtonWidth,
                       kButtonHeight);
        const std::string label = "Close";
        drawText(buttonLeft() + (kButtonWidth - textWidth(m_font, label)) / 2,
                 buttonTop() + (kButtonHeight + m_font->ascent - m_font->descent) / 2, label);
        if (!m_copied.empty())
            drawText(kMargin, buttonTop() + (kButtonHeight + m_font->ascent) / 2, m_copied);
        XFlush(m_display);
    }

    void scroll(int lines)
    {
        const int maxFirst =
            std::max(0, static_cast<int>(m_detailLines.size()) - visibleDetailLines());
        m_firstDetailLine = std::clamp(m_firstDetailLine + lines, 0, maxFirst);
        draw();
    }

    bool onKey(XKeyEvent& key)
    {
        const KeySym sym = XLookupKeysym(&key, 0);
        const bool control = (key.state & ControlMask) != 0;
        if (sym == XK_Escape || sym == XK_Return || sym == XK_KP_Enter)
            return false;
        if (control && (sym == XK_Insert || sym == XK_c))
        {
            XSetSelectionOwner(m_display, m_clipboard, m_window, key.time);
            XSetSelectionOwner(m_display, XA_PRIMARY, m_window, key.time);
            m_copied = "Details copied.";
            draw();
        }
        else if (sym == XK_Up)
            scroll(-1);
        else if (sym == XK_Down)
            scroll(1);
        else if (sym == XK_Prior)
            scroll(-visibleDetailLines());
        else if (sym == XK_Next)
            scroll(visibleDetailLines());
        return true;
    }

    bool onButton(const XButtonEvent& button)
    {
        if (button.button == Button4)
            scroll(-3);
        else if (button.button == Button5)
            scroll(3);
        else if (button.button == Button1 && button.x >= buttonLeft() &&
                 button.x < buttonLeft() + kButtonWidth && button.y >= buttonTop() &&
                 button.y < buttonTop() + kButtonHeight)
            return false;
        return true;
    }

    void answerSelection(const XSelectionRequestEvent& request)
    {
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = request.display;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = None;
        const Atom property = request.property != None ? request.property : request.target;
        if (request.target == m_targets)
        {
            const Atom offered[] = {m_targets, m_utf8, XA_STRING, m_text};
            XChangeProperty(m_display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(offered), 4);
            reply.property = property;
        }
        else if (request.target == m_utf8 || request.target == XA_STRING ||
                 request.target == m_text)
        {
            const bool utf8 = request.target != XA_STRING;
            const std::string data = utf8 ? m_details : toLatin1(m_details);
            XChangeProperty(m_display, request.requestor, property, utf8 ? m_utf8 : XA_STRING, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(data.data()),
                            static_cast<int>(data.size()));
            reply.property = property;
        }
        XEvent event{};
        event.xselection = reply;
        XSendEvent(m_display, request.requestor, False, 0, &event);
        XFlush(m_display);
    }

    Display* m_display;
    XFontStruct* m_font;
    std::string m_title;
    std::string m_details; // UTF-8, as offered to the clipboard
    std::vector<std::string> m_detailLines;
    std::vector<std::string> m_messageLines;
    std::string m_copied;
    int m_firstDetailLine = 0;
    Window m_window = 0;
    GC m_gc = nullptr;
    Atom m_deleteWindow = 0;
    Atom m_clipboard = 0;
    Atom m_targets = 0;
    Atom m_utf8 = 0;
    Atom m_text = 0;
};

void writeToStderr(std::string_view title, std::string_view message, std::string_view details)
{
    std::fprintf(stderr, "%.*s\n%.*s\n\n%.*s\n", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(message.size()), message.data(), static_cast<int>(details.size()),
                 details.data());
    std::fflush(stderr);
}

} // namespace

bool showX11ErrorWindow(std::string_view title, std::string_view message, std::string_view details,
                        bool closeWhenDrawn)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    bool shown = false;
    if (XFontStruct* font = loadFont(display))
    {
        {
            CX11ErrorWindow window(display, font, title, message, details);
            if (window.create())
            {
                window.run(closeWhenDrawn);
                shown = true;
            }
        }
        XFreeFont(display, font);
    }
    XCloseDisplay(display);
    return shown;
}

namespace detail
{

void showNativeErrorWindow(std::string_view title, std::string_view message,
                           std::string_view details)
{
    if (!showX11ErrorWindow(title, message, details, false))
        writeToStderr(title, message, details);
}

} // namespace detail

} // namespace zel::platform

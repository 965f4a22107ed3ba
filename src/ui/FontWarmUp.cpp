#include "ui/FontWarmUp.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>

#include <fontconfig/fontconfig.h>

#include <system_error>

FontWarmUp::FontWarmUp()
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had (a user's task limit reached on a shared host): the first window loads it all.
        m_fontconfigRead = true;
    }
}

FontWarmUp::~FontWarmUp()
{
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_cancelled = !m_applicationReady;
    }
    m_changed.notify_all();
    wait();
}

void FontWarmUp::run()
{
    FcInit();
    std::unique_lock<std::mutex> guard(m_lock);
    m_fontconfigRead = true;
    m_changed.notify_all();
    m_changed.wait(guard, [this] { return m_applicationReady || m_cancelled; });
    if (m_cancelled) {
        return;
    }
    guard.unlock();
    // The application font and the list of installed fonts are global, unlike the loaded fonts.
    QGuiApplication::font();
    QFontDatabase().families();
    // Reading a PNG by name makes Qt load every image-format plugin to ask each whether it reads PNG;
    // loaded here, the first window's icons find them ready.
    QImage(QStringLiteral(":/img32/images/close.png"));
}

void FontWarmUp::applicationReady()
{
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_applicationReady = true;
    }
    m_changed.notify_all();
}

void FontWarmUp::waitForFontconfig()
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [this] { return m_fontconfigRead; });
}

void FontWarmUp::wait()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

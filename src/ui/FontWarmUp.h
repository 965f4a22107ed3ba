#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Reads the system's font configuration on a second core while the first one builds the application object, sets up
// logging, loads the settings and asks the server for its client settings; the first window would otherwise wait for
// it. fontconfig's set-up needs no application object, so it starts at once; Qt's font database follows when the
// application object exists. Qt guards both with its own locks: whichever thread comes first does the work and the
// other waits for it. Nothing of Qt may run here before the application object exists: it loads its plugins under Qt's
// library lock and the dynamic loader's, and a Qt call here could take the two in the other order.
class FontWarmUp
{
public:
    FontWarmUp(); // before the application object
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // The application object exists: the thread goes on with Qt's font database and image plugins.
    void applicationReady();
    // Returns once fontconfig's configuration is read (a font used before would read it a second time).
    void waitForFontconfig();
    // Returns once all is loaded; call before building the first window.
    void wait();

private:
    void run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_fontconfigRead = false;
    bool m_applicationReady = false;
    bool m_cancelled = false;
    std::thread m_thread;
};

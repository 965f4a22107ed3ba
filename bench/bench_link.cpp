// bench_link OUTER INNER DELAY_US RATE_MBIT
//
// A point-to-point link emulated in user space, for kernels without the netem queueing discipline: two TUN
// interfaces, packets read from one are written into the other after the link's serialisation time at the
// given rate and a fixed one-way delay, both directions alike (FIFO, 1000 packets queued at most per
// direction, the rest dropped, as netem's default limit). The packets cross unchanged, so TCP on both ends
// sees a real link: its own handshakes, windows, acknowledgements and congestion control.
//
// Prints "ready" once both interfaces exist (the caller moves one into its namespace and gives addresses),
// then forwards until SIGTERM or SIGINT; prints per direction what crossed and what was dropped.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMaxPacket = 65536;
constexpr size_t kQueueLimit = 1000;

std::atomic<bool> g_stop { false };

int openTun(const char* name)
{
    const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open /dev/net/tun");
        std::exit(1);
    }
    ifreq ifr {};
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    if (ioctl(fd, TUNSETIFF, &ifr) < 0) {
        std::perror("TUNSETIFF");
        std::exit(1);
    }
    return fd;
}

struct Packet
{
    Clock::time_point due;
    std::vector<char> bytes;
};

// One direction of the link: a reader stamping each packet with its delivery time, a writer delivering it then.
class Direction
{
public:
    Direction(int from, int to, std::chrono::nanoseconds delay, double bitsPerNs)
        : m_from(from)
        , m_to(to)
        , m_delay(delay)
        , m_bitsPerNs(bitsPerNs)
    { }

    void start()
    {
        m_reader = std::thread([this] { read(); });
        m_writer = std::thread([this] { write(); });
    }

    void join()
    {
        m_changed.notify_all();
        m_reader.join();
        m_writer.join();
    }

    unsigned long long delivered() const { return m_delivered; }
    unsigned long long dropped() const { return m_dropped; }

private:
    void read()
    {
        std::vector<char> buffer(kMaxPacket);
        pollfd pfd { m_from, POLLIN, 0 };
        while (!g_stop) {
            if (poll(&pfd, 1, 100) <= 0) {
                continue;
            }
            const ssize_t n = ::read(m_from, buffer.data(), buffer.size());
            if (n <= 0) {
                continue;
            }
            const Clock::time_point now = Clock::now();
            // The packet leaves once the ones before it have been sent, takes its own time on the wire at
            // the link's rate, then the delay.
            const auto wire = std::chrono::nanoseconds(static_cast<long long>(double(n) * 8.0 / m_bitsPerNs));
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_queue.size() >= kQueueLimit) {
                ++m_dropped;
                continue;
            }
            m_sendFree = std::max(m_sendFree, now) + wire;
            m_queue.push_back(Packet { m_sendFree + m_delay, std::vector<char>(buffer.data(), buffer.data() + n) });
            m_changed.notify_one();
        }
    }

    void write()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        while (!g_stop) {
            if (m_queue.empty()) {
                m_changed.wait_for(guard, std::chrono::milliseconds(100));
                continue;
            }
            const Clock::time_point due = m_queue.front().due;
            if (Clock::now() < due) {
                m_changed.wait_until(guard, due);
                continue;
            }
            Packet packet = std::move(m_queue.front());
            m_queue.pop_front();
            guard.unlock();
            if (::write(m_to, packet.bytes.data(), packet.bytes.size()) > 0) {
                ++m_delivered;
            }
            guard.lock();
        }
    }

    const int m_from;
    const int m_to;
    const std::chrono::nanoseconds m_delay;
    const double m_bitsPerNs;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Packet> m_queue;
    Clock::time_point m_sendFree {};
    std::atomic<unsigned long long> m_delivered { 0 };
    std::atomic<unsigned long long> m_dropped { 0 };
    std::thread m_reader;
    std::thread m_writer;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s OUTER INNER DELAY_US RATE_MBIT\n", argv[0]);
        return 2;
    }
    // Sleeps end when asked, not up to 50 us later: the delay is half a millisecond.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    const int outer = openTun(argv[1]);
    const int inner = openTun(argv[2]);
    const auto delay = std::chrono::microseconds(std::atoll(argv[3]));
    const double bitsPerNs = std::atof(argv[4]) / 1000.0;

    struct sigaction action
    {
    };
    action.sa_handler = [](int) { g_stop = true; };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    std::array<Direction, 2> link { Direction(outer, inner, delay, bitsPerNs),
                                    Direction(inner, outer, delay, bitsPerNs) };
    for (Direction& d : link) {
        d.start();
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (!g_stop) {
        pause();
    }
    for (Direction& d : link) {
        d.join();
    }
    std::printf("outer->inner %llu delivered %llu dropped; inner->outer %llu delivered %llu dropped\n",
                link[0].delivered(), link[0].dropped(), link[1].delivered(), link[1].dropped());
    return 0;
}

// The part of a window thread that every backend keeps: the work posted to
// it, whether it has been told to quit, and whether it has ended. Private
// to the backends (framework/window_thread.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Set on a window thread for its life (AfxOnWindowThread).
inline thread_local bool t_onWindowThread = false;

class WindowThreadWork {
  public:
    // False, and fn dropped, once the thread has been told to quit.
    bool Push(std::function<void()> fn) {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_quit) {
            return false;
        }
        m_work.push_back(std::move(fn));
        return true;
    }
    void Quit() {
        std::lock_guard<std::mutex> g(m_lock);
        m_quit = true;
    }
    // Runs the work posted so far, in order. False once the thread has been
    // told to quit and nothing is left to run: its loop should end.
    bool RunPosted() {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard<std::mutex> g(m_lock);
                if (m_work.empty()) {
                    return !m_quit;
                }
                fn = std::move(m_work.front());
                m_work.pop_front();
            }
            fn();
        }
    }
    bool Pending() {
        std::lock_guard<std::mutex> g(m_lock);
        return !m_work.empty() || m_quit;
    }
    // The thread's last step.
    void Ended() {
        std::lock_guard<std::mutex> g(m_lock);
        m_ended = true;
        m_endedCv.notify_all();
    }
    bool WaitEnded(std::uint64_t ms) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_endedCv.wait_for(g, std::chrono::milliseconds(ms), [this] { return m_ended; });
    }

  private:
    std::mutex m_lock;
    std::deque<std::function<void()>> m_work;
    bool m_quit = false;
    bool m_ended = false;
    std::condition_variable m_endedCv;
};

// Joins a thread that has ended within ms; leaves one that has not to
// itself. The thread holds its own reference to the state it uses.
inline bool JoinWindowThread(std::thread& thread, WindowThreadWork& work, std::uint64_t ms) {
    if (!thread.joinable()) {
        return true;
    }
    if (work.WaitEnded(ms)) {
        thread.join();
        return true;
    }
    thread.detach();
    return false;
}

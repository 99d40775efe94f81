// Window threads of the GTK backend: a thread running a GLib main context
// of its own, which its windows' timers and hand-overs are attached to.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include "framework/gtk/window_impl.h"
#include "framework/window_thread.h"
#include "framework/window_thread_state.h"

struct WindowThreadState {
    ~WindowThreadState() { g_main_context_unref(context); }

    WindowThreadWork work;
    GMainContext* context = g_main_context_new();
    std::thread thread;
};

CWindowThread::CWindowThread() : m_state(std::make_shared<WindowThreadState>()) {
    m_state->thread = std::thread([state = m_state] {
        t_onWindowThread = true;
        g_main_context_push_thread_default(state->context);
        gtk::UseThreadHandOvers();
        while (state->work.RunPosted()) {
            g_main_context_iteration(state->context, TRUE);
        }
        gtk::EndThreadHandOvers();
        g_main_context_pop_thread_default(state->context);
        state->work.Ended();
    });
}

CWindowThread::~CWindowThread() {
    Quit();
    Join(kWindowThreadEndMs);
}

void CWindowThread::Post(std::function<void()> fn) {
    if (m_state->work.Push(std::move(fn))) {
        g_main_context_wakeup(m_state->context);
    }
}

void CWindowThread::Quit() {
    m_state->work.Quit();
    g_main_context_wakeup(m_state->context);
}

bool CWindowThread::Join(std::uint64_t ms) {
    return JoinWindowThread(m_state->thread, m_state->work, ms);
}

bool AfxOnWindowThread() {
    return t_onWindowThread;
}

// Vemo_runcontrol: the run's flag and progress for the checkpoints.
#include "base/Vemo_runcontrol.h"

#include <algorithm>
#include <utility>

namespace {

thread_local RunScope* g_scope = nullptr;

}  // namespace

RunScope::RunScope(const CancelFlag* cancel, ProgressSink progress)
    : m_cancel(cancel), m_progress(std::move(progress)), m_outer(g_scope) {
    g_scope = this;
}

RunScope::~RunScope() { g_scope = m_outer; }

RunScope* RunScope::Current() noexcept { return g_scope; }

void RunScope::NewStep() {
    m_percent = -1;
    Checkpoint(0, 1);
}

void RunScope::Checkpoint(int64_t done, int64_t total) {
    if (m_cancel != nullptr && m_cancel->IsRequested()) throw RunCancelled();
    if (!m_progress) return;
    const int64_t clamped = std::clamp<int64_t>(done, 0, std::max<int64_t>(total, 1));
    const int percent = total > 0 ? static_cast<int>(clamped * 100 / total) : 100;
    if (percent == m_percent) return;
    m_percent = percent;
    m_progress(percent);
}

// The plans a transform filter keeps: the last few lengths it used, the least
// recently used replaced. Plans are immutable and shared with the tasks of a run.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <nvfiltering/fft/detail/FftLinePlan.h>
#include <nvfiltering/framework/detail/HugePages.h>

namespace com::norvane::filtering::detail {

template <class T>
class FftPlanCache {
public:
    static constexpr std::size_t kKept = 4;

    std::shared_ptr<const FftLinePlan<T>> get(std::size_t n) {
        for (std::size_t i = 0; i < m_plans.size(); ++i) {
            if (m_plans[i]->length() == n) {
                auto plan = m_plans[i];
                m_plans.erase(m_plans.begin() + static_cast<std::ptrdiff_t>(i));
                m_plans.insert(m_plans.begin(), plan);
                return plan;
            }
        }
        auto plan = std::make_shared<const FftLinePlan<T>>(n);
        m_plans.insert(m_plans.begin(), plan);
        if (m_plans.size() > kKept) m_plans.pop_back();
        return plan;
    }

    // A scratch array of at least `count` values of T, kept for the next call of
    // the same size or smaller (so that repeated multi-axis inverse real
    // transforms neither allocate nor fault in fresh pages); its contents are
    // whatever the last user left. A large one is advised for huge pages, so
    // that a filter used for one call faults it in a few times per MiB.
    T* scratch(std::size_t count) {
        if (count > m_scratchSize) {
            m_scratch.reset();
            m_scratch.reset(new T[count]);
            m_scratchSize = count;
            adviseHugePages(m_scratch.get(), count * sizeof(T));
        }
        return m_scratch.get();
    }

private:
    std::vector<std::shared_ptr<const FftLinePlan<T>>> m_plans;  // most recent first
    std::unique_ptr<T[]> m_scratch;
    std::size_t m_scratchSize = 0;
};

}  // namespace com::norvane::filtering::detail

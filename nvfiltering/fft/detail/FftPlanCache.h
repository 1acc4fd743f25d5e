// The plans a transform filter keeps: the last few lengths it used, the least
// recently used replaced. Plans are immutable and shared with the tasks of a run.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <nvfiltering/fft/detail/FftLinePlan.h>

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

private:
    std::vector<std::shared_ptr<const FftLinePlan<T>>> m_plans;  // most recent first
};

}  // namespace com::norvane::filtering::detail

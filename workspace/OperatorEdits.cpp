#include "workspace/OperatorEdits.h"

#include <algorithm>

bool OperatorEdits::mayTurn() const {
    return !m_page && std::none_of(m_frames.begin(), m_frames.end(), [](bool touched) { return touched; });
}

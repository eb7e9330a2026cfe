#pragma once

// The virtual selector on a session's device, served either way a line is: the in-process
// port on the event loop, or a pty through the line thread (what Linux users get). Operation
// tests run on both.
#include "link/link_engine.h"
#include "session/selector_session.h"
#include "session/virtual_bench.h"

#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"
#ifdef Q_OS_UNIX
#include "sim/qt/pty_bridge.h"
#endif

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quarvel::session::testing {

enum class LineKind
{
    InProcess,
    LineThread
};

inline std::vector<LineKind> allLines()
{
#ifdef Q_OS_UNIX
    return {LineKind::InProcess, LineKind::LineThread};
#else
    return {LineKind::InProcess};
#endif
}

inline std::string lineName(const ::testing::TestParamInfo<LineKind>& info)
{
    return info.param == LineKind::InProcess ? "InProcess" : "LineThread";
}

// Short time-outs, so that the faults of a test cost little. On the line thread a time-out runs
// on while the selector, served from the test's own event loop, may be held up there (a
// sanitizer build, a loaded host): it gets more room.
inline link::LinkTiming quickTiming(LineKind kind)
{
    return kind == LineKind::InProcess ? link::LinkTiming{20, 5} : link::LinkTiming{60, 5};
}

class VirtualLine
{
public:
    // A new selector with this fault plan on the session's device; whatever was open is closed.
    bool open(SelectorSession& session, LineKind kind, const sim::FaultPlan& faults, QString* error = nullptr)
    {
        m_session = &session;
        m_kind = kind;
        if (kind == LineKind::InProcess) {
            VirtualSelectorOptions options;
            options.faults = faults;
            return session.bench().open(options, error);
        }
#ifdef Q_OS_UNIX
        // The old selector stays until the device has let go of its pty.
        auto model = std::make_unique<sim::VirtualSelector>();
        model->setFaultPlan(faults);
        auto bridge = std::make_unique<sim::PtyBridge>(*model);
        if (!bridge->open(error) || !session.device().openPort(bridge->slavePath(), error)) return false;
        m_bridge = std::move(bridge);
        m_model = std::move(model);
        return true;
#else
        return false;
#endif
    }

    sim::VirtualSelector* model()
    {
        return m_kind == LineKind::InProcess ? m_session->bench().model() : m_model.get();
    }

    bool insertCoin(const sim::CoinSample& coin)
    {
#ifdef Q_OS_UNIX
        if (m_kind == LineKind::LineThread) return m_bridge && m_bridge->insertCoin(coin);
#endif
        return m_session->bench().port() && m_session->bench().port()->insertCoin(coin);
    }
    bool insertCoin(int coinType, bool irregular = false)
    {
#ifdef Q_OS_UNIX
        if (m_kind == LineKind::LineThread) return m_bridge && m_bridge->insertCoin(coinType, irregular);
#endif
        return m_session->bench().insertCoin(coinType, irregular);
    }

private:
    SelectorSession* m_session = nullptr;
    LineKind m_kind = LineKind::InProcess;
    // Declared before the bridge: it serves this model.
    std::unique_ptr<sim::VirtualSelector> m_model;
#ifdef Q_OS_UNIX
    std::unique_ptr<sim::PtyBridge> m_bridge;
#endif
};

} // namespace quarvel::session::testing

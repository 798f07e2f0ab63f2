#pragma once
// Posted calls: the calls a client goes on from without waiting, gathered into runs that go
// to one server as one message, and the answers they share.
#include "automation/bus/channel.h"
#include "automation/bus/protocol.h"
#include "automation/invoke.h"

#include <QDBusPendingCall>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace automation::bus::client {

// Posted calls go out together, as one PostRun, when a call must wait, when their answers
// are taken, or when one more is posted once this many have gathered: a message per call
// costs more than the calls. A full run waits for that next call so that the run whose
// answers are taken is always the open one, and goes out saying it is awaited.
inline constexpr qsizetype MaxRunCalls = 64;
inline constexpr size_t MaxRunBytes = 64 * 1024;

// A run of posted calls to one server, and the answer they share once it has been sent.
class PostedRun {
public:
    PostedRun(QString server, Channel channel)
        : server_(std::move(server)), channel_(std::move(channel)) {}

    const QString& server() const { return server_; }
    const Channel& channel() const { return channel_; }

    // The call's index in the run. The proxies it names are held until the run has left, so
    // that no Release of theirs can overtake it.
    size_t add(uint64_t handle, const QString& name, DISPID dispid, LCID lcid, uint16_t flags,
               bool wantResult, uint64_t promise, const std::vector<WireValue>& values,
               const std::vector<DISPID>& named, std::vector<DispatchPtr> held);

    // Counts of a handle given back: carried out after the run's calls, or, once the run
    // has left, all together in one message when its last answer has been taken.
    void release(uint64_t handle, uint64_t count);

    ~PostedRun();

    bool full() const { return handles_.size() >= MaxRunCalls || bytes_ >= MaxRunBytes; }

    void send(bool awaited);

    // The run's answer, waited for once; a garbled one fails every call in it.
    const Answer& answer();

    HRESULT outcome(size_t index) const { return outcomes_[static_cast<qsizetype>(index)]; }
    const WireValue& result(size_t index) const { return results_[index]; }

private:
    const QString server_;
    const Channel channel_;
    QList<quint64> handles_;
    QStringList names_;
    QList<qint32> dispids_;
    QList<quint32> lcids_;
    QList<quint16> flags_;
    QList<bool> wantResults_;
    QList<quint64> promises_;
    QList<quint32> valueCounts_;
    WireValues values_;
    QList<quint32> namedCounts_;
    QList<qint32> named_;
    QList<quint64> releases_, releaseCounts_, lateReleases_, lateReleaseCounts_;
    size_t bytes_ = 0;
    std::vector<DispatchPtr> held_;
    std::optional<QDBusPendingCall> pending_;
    bool answered_ = false;
    Answer answer_;
    QList<qint32> outcomes_;
    std::vector<WireValue> results_;
};

// The run this thread's posted calls are gathering in, not yet sent; and the last run made,
// while its answers are still to be taken or in hand.
extern thread_local std::shared_ptr<PostedRun> openRun;
extern thread_local std::weak_ptr<PostedRun> lastRun;

// Sends the posted calls this thread has gathered, if any; awaited when nothing more is sent
// until their answers have come.
void SendOpenRun(bool awaited = false);

// The answer to a call sent without waiting; for a call whose result was promised, the
// stand-in learns here what it stands for.
class PostedAnswer final : public DeferredAnswer {
public:
    PostedAnswer(std::shared_ptr<PostedRun> run, size_t index, DispatchPtr promise = nullptr)
        : run_(std::move(run)), index_(index), promise_(std::move(promise)) {}

    HRESULT wait(EXCEPINFO* excepInfo) override;
    Variant result() override { return result_; }

private:
    std::shared_ptr<PostedRun> run_;
    size_t index_;
    DispatchPtr promise_;
    Variant result_;
};

} // namespace automation::bus::client

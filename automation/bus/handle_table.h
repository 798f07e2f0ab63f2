#pragma once
// The objects a server holds for each of its clients, by the handles the clients know them
// by: shared once per object and client and counted, given back by count, and the names a
// client gave the results it did not wait for.
#include "automation/automation.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace automation::bus::server {

class HandleTable {
public:
    // admit says whether a client without a table may have one made (false once it has
    // left); forgotten is told when a client's table goes.
    HandleTable(std::function<bool(const QString&)> admit,
                std::function<void(const QString&)> forgotten)
        : admit_(std::move(admit)), forgotten_(std::move(forgotten)) {}

    // The client's handle of object, counted once more; 0 for no object or a client that
    // has left.
    uint64_t share(const QString& client, const DispatchPtr& object);
    // False for a handle this client does not hold; handle 0 is no object.
    bool resolve(const QString& client, uint64_t handle, DispatchPtr* object);
    void release(const QString& client, uint64_t handle, uint64_t count);
    // What the client's result promise stands for: a handle, or 0 for no object.
    void keepPromise(const QString& client, uint64_t promise, uint64_t handle);
    // A table with nothing in it is not kept, but its client stays watched while known.
    void forget(const QString& client);
    // Lets go of every table at once; the objects go once the tables are empty.
    void clear();

    size_t clientCount() const { return clients_.size(); }
    size_t handleCount() const;

private:
    struct Held {
        DispatchPtr object;
        uint64_t count = 0;
    };
    struct ClientTable {
        std::map<uint64_t, Held> handles;
        std::map<const IDispatch*, uint64_t> byObject;
        // The client's names for results it did not wait for: a handle, or 0 for no object.
        std::map<uint64_t, uint64_t> promises;
    };

    // The client's table, made (and its departure watched) on first need; null when the
    // client has already left the bus.
    ClientTable* tableFor(const QString& client, bool make);
    // Objects made on DispatchObject number their members by their member table, so two
    // with the same table share their numbers and clients may keep them per class.
    uint64_t classOf(IDispatch* object);

    std::function<bool(const QString&)> admit_;
    std::function<void(const QString&)> forgotten_;
    uint64_t nextHandle_ = 1;
    std::map<std::vector<std::u16string>, uint64_t> classes_;
    std::map<QString, ClientTable> clients_;
};

} // namespace automation::bus::server

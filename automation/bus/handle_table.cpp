#include "automation/bus/handle_table.h"

#include "automation/bus/protocol.h"
#include "automation/dispatch_object.h"

namespace automation::bus::server {

HandleTable::ClientTable* HandleTable::tableFor(const QString& client, bool make) {
    if (auto it = clients_.find(client); it != clients_.end())
        return &it->second;
    if (!make || client.isEmpty() || !admit_(client))
        return nullptr;
    return &clients_[client];
}

uint64_t HandleTable::share(const QString& client, const DispatchPtr& object) {
    if (!object)
        return 0;
    ClientTable* table = tableFor(client, true);
    if (!table)
        return 0;
    if (auto it = table->byObject.find(object.get()); it != table->byObject.end()) {
        ++table->handles[it->second].count;
        return it->second;
    }
    const uint64_t handle = (classOf(object.get()) << HandleClassShift) | nextHandle_++;
    table->handles[handle] = Held{object, 1};
    table->byObject[object.get()] = handle;
    return handle;
}

uint64_t HandleTable::classOf(IDispatch* object) {
    const auto* declared = dynamic_cast<const DispatchObject*>(object);
    if (!declared)
        return NoHandleClass;
    // Clients keep each member's type information per class too: it is part of the key.
    std::vector<std::u16string> key = declared->names();
    const size_t members = key.size();
    for (size_t i = 0; i < members; ++i) {
        const std::vector<uint16_t>* flags = declared->parameterFlags(static_cast<DISPID>(i + 1));
        std::u16string declaredFlags = flags ? u"+" : u"-";
        if (flags)
            for (const uint16_t flag : *flags)
                declaredFlags += static_cast<char16_t>(u'0' + (flag & 0xFF));
        key.push_back(std::move(declaredFlags));
    }
    const auto [it, added] = classes_.try_emplace(std::move(key), classes_.size() + 1);
    if (it->second > MaxHandleClass) {
        classes_.erase(it);
        return NoHandleClass;
    }
    return it->second;
}

bool HandleTable::resolve(const QString& client, uint64_t handle, DispatchPtr* object) {
    *object = nullptr;
    if (handle == 0)
        return true;
    ClientTable* table = tableFor(client, false);
    if (!table)
        return false;
    if (handle & PromiseHandleBit) {
        const auto promise = table->promises.find(handle);
        if (promise == table->promises.end())
            return false;
        if (promise->second == 0)
            return true; // a result that was no object
        handle = promise->second;
    }
    const auto it = table->handles.find(handle);
    if (it == table->handles.end())
        return false;
    *object = it->second.object;
    return true;
}

void HandleTable::release(const QString& client, uint64_t handle, uint64_t count) {
    ClientTable* table = tableFor(client, false);
    if (!table)
        return;
    if (handle & PromiseHandleBit) {
        table->promises.erase(handle);
        if (table->handles.empty() && table->promises.empty())
            forget(client);
        return;
    }
    const auto it = table->handles.find(handle);
    if (it == table->handles.end())
        return;
    if (count < it->second.count) {
        it->second.count -= count;
        return;
    }
    const DispatchPtr dropped = std::move(it->second.object); // released after the erase
    table->byObject.erase(dropped.get());
    table->handles.erase(it);
    if (table->handles.empty() && table->promises.empty())
        forget(client);
}

void HandleTable::keepPromise(const QString& client, uint64_t promise, uint64_t handle) {
    if (ClientTable* table = tableFor(client, false))
        table->promises[promise] = handle;
}

void HandleTable::forget(const QString& client) {
    forgotten_(client);
    std::map<QString, ClientTable> dropped;
    if (auto it = clients_.find(client); it != clients_.end())
        dropped.insert(clients_.extract(it));
}

void HandleTable::clear() {
    std::map<QString, ClientTable> dropped;
    dropped.swap(clients_);
    dropped.clear(); // objects' destructors may look at this server; it is still whole
}

size_t HandleTable::handleCount() const {
    size_t n = 0;
    for (const auto& [name, table] : clients_)
        n += table.handles.size();
    return n;
}

} // namespace automation::bus::server

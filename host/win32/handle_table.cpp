// Handle values are multiples of four starting at 4, as Windows gives them;
// 0 and INVALID_HANDLE_VALUE are never handed out.
#include "win32/handle_table.h"

#include <map>
#include <mutex>
#include <vector>

namespace standin {
namespace {

struct Table {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<HandleObject>> objects;
    uintptr_t next = 4;
};

// Never destroyed: handles still open when the process ends (the program
// never closes its device handle) are left alone, not closed against a
// kernel whose own state may already be gone.
Table& TheTable() {
    static Table* table = new Table;
    return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<HandleObject> object) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, HandleKind kind) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.objects.end() || found->second->kind != kind) return nullptr;
    return found->second;
}

std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle, HandleKind kind) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.objects.end() || found->second->kind != kind) return nullptr;
    std::shared_ptr<HandleObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

void ForEachHandle(const std::function<void(HandleObject&)>& visit) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    for (auto& entry : table.objects) visit(*entry.second);
}

std::vector<std::shared_ptr<HandleObject>> RemoveAllHandles(HandleKind kind) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    std::vector<std::shared_ptr<HandleObject>> removed;
    for (auto it = table.objects.begin(); it != table.objects.end();) {
        if (it->second->kind == kind) {
            removed.push_back(std::move(it->second));
            it = table.objects.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

}  // namespace standin

// The layer's root directory, last error, handle table and text escaping.
#include "layer.h"

#include <mutex>
#include <unordered_map>

namespace lystrel::layer {
namespace {

std::string& RootStorage() {
    static std::string root = "/";
    return root;
}

thread_local uint32_t lastError = 0;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<void*, std::unique_ptr<HandleObject>> objects;
};

HandleTable& Handles() {
    static HandleTable* table = new HandleTable;  // never destroyed: handles may outlive statics
    return *table;
}

}  // namespace

void SetRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    RootStorage() = root.empty() ? "/" : std::move(root);
}

const std::string& Root() { return RootStorage(); }

std::string HostPath(std::string_view absolute) {
    const std::string& root = Root();
    if (root == "/") return std::string(absolute);
    std::string path = root;
    if (absolute.empty() || absolute.front() != '/') path.push_back('/');
    path.append(absolute);
    return path;
}

void SetError(uint32_t code) { lastError = code; }

uint32_t Error() { return lastError; }

std::string EscapeControlBytes(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xF]);
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

void* RegisterHandle(std::unique_ptr<HandleObject> object) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    void* handle = object.get();
    table.objects.emplace(handle, std::move(object));
    return handle;
}

HandleObject* LookupHandle(void* handle) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.objects.find(handle);
    return found == table.objects.end() ? nullptr : found->second.get();
}

bool ReleaseHandle(void* handle) {
    std::unique_ptr<HandleObject> object;
    {
        HandleTable& table = Handles();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto found = table.objects.find(handle);
        if (found == table.objects.end()) return false;
        object = std::move(found->second);
        table.objects.erase(found);
    }
    return true;
}

}  // namespace lystrel::layer

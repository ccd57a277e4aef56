#include "handle_registry.hpp"

#include <stdexcept>

namespace common {

HandleRegistry::HandleRegistry(std::uint8_t tag, std::uint32_t firstSerial)
    : tag_(tag), nextSerial_((firstSerial & serialMask) == 0 ? 1 : firstSerial & serialMask) {}

std::uint32_t HandleRegistry::add(void* object) {
    if (live_.size() >= serialMask) throw std::length_error("too many live objects");
    std::uint32_t token;
    do {
        token = (std::uint32_t{tag_} << 24) | nextSerial_;
        nextSerial_ = (nextSerial_ & serialMask) == serialMask ? 1 : nextSerial_ + 1;
    } while (live_.count(token) != 0);
    live_.emplace(token, object);
    return token;
}

void* HandleRegistry::find(std::uint32_t token) const {
    auto it = live_.find(token);
    return it == live_.end() ? nullptr : it->second;
}

void* HandleRegistry::remove(std::uint32_t token) {
    auto it = live_.find(token);
    if (it == live_.end()) return nullptr;
    void* object = it->second;
    live_.erase(it);
    return object;
}

}  // namespace common

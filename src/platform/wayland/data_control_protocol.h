#pragma once

#include <wayland-client.h>

#include <cstdint>

namespace vurin::data_control {

// ext_data_control_v1 and wlr_data_control_unstable_v1 have the same requests and events in the
// same order (the ext protocol is the wlr one made standard), so one client speaks both: only
// the interfaces differ, and they are looked up in this table.
struct Protocol {
    const char* name;  // the manager's global
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
    // The highest manager version we use; the primary selection needs `primaryVersion`.
    std::uint32_t version;
    std::uint32_t primaryVersion;
};

// In order of preference.
extern const Protocol kProtocols[2];

wl_proxy* createSource(wl_proxy* manager, const Protocol& protocol);
wl_proxy* getDevice(wl_proxy* manager, const Protocol& protocol, wl_seat* seat);
// `source` may be null: the selection is cleared.
void setSelection(wl_proxy* device, wl_proxy* source, bool primary);
void offer(wl_proxy* source, const char* mimeType);
// The owner writes the bytes of `mimeType` to `fd` (the request carries a copy of it).
void receive(wl_proxy* offer, const char* mimeType, int fd);
void destroyManager(wl_proxy* manager);
void destroyDevice(wl_proxy* device);
void destroySource(wl_proxy* source);
void destroyOffer(wl_proxy* offer);

// Listeners, laid out as the generated ones of either protocol.
struct DeviceListener {
    void (*dataOffer)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*selection)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*finished)(void* data, wl_proxy* device);
    void (*primarySelection)(void* data, wl_proxy* device, wl_proxy* offer);
};
struct SourceListener {
    void (*send)(void* data, wl_proxy* source, const char* mimeType, int32_t fd);
    void (*cancelled)(void* data, wl_proxy* source);
};
struct OfferListener {
    void (*offer)(void* data, wl_proxy* offer, const char* mimeType);
};

void addListener(wl_proxy* object, const DeviceListener* listener, void* data);
void addListener(wl_proxy* object, const SourceListener* listener, void* data);
void addListener(wl_proxy* object, const OfferListener* listener, void* data);

}  // namespace vurin::data_control

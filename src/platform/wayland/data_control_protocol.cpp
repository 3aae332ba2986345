#include "platform/wayland/data_control_protocol.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace vurin::data_control {

namespace {

// The requests are sent by opcode, and the events arrive through one listener layout: both hold
// only while the two protocols keep the same shape.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
                  ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE &&
              EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE ==
                  ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE &&
              EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION ==
                  ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION &&
              EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION ==
                  ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION &&
              EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER &&
              EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE &&
              EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
static_assert(sizeof(DeviceListener) == sizeof(ext_data_control_device_v1_listener) &&
              sizeof(DeviceListener) == sizeof(zwlr_data_control_device_v1_listener));
static_assert(sizeof(SourceListener) == sizeof(ext_data_control_source_v1_listener) &&
              sizeof(SourceListener) == sizeof(zwlr_data_control_source_v1_listener));
static_assert(sizeof(OfferListener) == sizeof(ext_data_control_offer_v1_listener) &&
              sizeof(OfferListener) == sizeof(zwlr_data_control_offer_v1_listener));

std::uint32_t version(wl_proxy* object) {
    return wl_proxy_get_version(object);
}

void destroy(wl_proxy* object, std::uint32_t opcode) {
    wl_proxy_marshal_flags(object, opcode, nullptr, version(object), WL_MARSHAL_FLAG_DESTROY);
}

}  // namespace

const Protocol kProtocols[2] = {
    {.name = "ext_data_control_manager_v1",
     .manager = &ext_data_control_manager_v1_interface,
     .device = &ext_data_control_device_v1_interface,
     .source = &ext_data_control_source_v1_interface,
     .offer = &ext_data_control_offer_v1_interface,
     .version = 1,
     .primaryVersion = 1},
    {.name = "zwlr_data_control_manager_v1",
     .manager = &zwlr_data_control_manager_v1_interface,
     .device = &zwlr_data_control_device_v1_interface,
     .source = &zwlr_data_control_source_v1_interface,
     .offer = &zwlr_data_control_offer_v1_interface,
     .version = 2,
     .primaryVersion = ZWLR_DATA_CONTROL_DEVICE_V1_PRIMARY_SELECTION_SINCE_VERSION},
};

wl_proxy* createSource(wl_proxy* manager, const Protocol& protocol) {
    return wl_proxy_marshal_flags(manager, ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                                  protocol.source, version(manager), 0, nullptr);
}

wl_proxy* getDevice(wl_proxy* manager, const Protocol& protocol, wl_seat* seat) {
    return wl_proxy_marshal_flags(manager, ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE,
                                  protocol.device, version(manager), 0, nullptr, seat);
}

void setSelection(wl_proxy* device, wl_proxy* source, bool primary) {
    wl_proxy_marshal_flags(device,
                           primary ? ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION
                                   : ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION,
                           nullptr, version(device), 0, source);
}

void offer(wl_proxy* source, const char* mimeType) {
    wl_proxy_marshal_flags(source, ZWLR_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, version(source), 0,
                           mimeType);
}

void receive(wl_proxy* offer, const char* mimeType, int fd) {
    wl_proxy_marshal_flags(offer, ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr, version(offer), 0,
                           mimeType, fd);
}

void destroyManager(wl_proxy* manager) {
    destroy(manager, ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
}

void destroyDevice(wl_proxy* device) {
    destroy(device, ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
}

void destroySource(wl_proxy* source) {
    destroy(source, ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
}

void destroyOffer(wl_proxy* offer) {
    destroy(offer, ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
}

void addListener(wl_proxy* object, const DeviceListener* listener, void* data) {
    wl_proxy_add_listener(
        object, reinterpret_cast<void (**)(void)>(const_cast<DeviceListener*>(listener)), data);
}

void addListener(wl_proxy* object, const SourceListener* listener, void* data) {
    wl_proxy_add_listener(
        object, reinterpret_cast<void (**)(void)>(const_cast<SourceListener*>(listener)), data);
}

void addListener(wl_proxy* object, const OfferListener* listener, void* data) {
    wl_proxy_add_listener(
        object, reinterpret_cast<void (**)(void)>(const_cast<OfferListener*>(listener)), data);
}

}  // namespace vurin::data_control

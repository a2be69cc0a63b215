// "Request Update" and "Close Remote Service": one datagram to the selected
// computer's resident client, through a socket of its own.
#include <ctime>

#include "server/console/settings.h"
#include "server/console/win32/commands.h"
#include "server/intake/remote_request.h"

namespace tally {

void send_client_request(const Store& store, std::uint32_t record, const ServerSettings& settings, Notifier& notifier,
                         bool close) {
    UdpRequestChannel channel;
    const RequestSigning signing{settings.signing.keys, static_cast<std::uint64_t>(std::time(nullptr))};
    send_remote_request(store, record, close ? RemoteRequest::close : RemoteRequest::update,
                        listening_port(settings.port_cell), channel, notifier, &signing);
}

}  // namespace tally

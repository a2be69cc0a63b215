// "Request Update" and "Close Remote Service": one datagram to the selected
// computer's resident client, through a socket of its own.
#include <ctime>

#include "server/console/win32/commands.h"
#include "server/console/win32/server_state.h"
#include "server/intake/remote_request.h"

namespace tally {

void send_remote_request(ServerState& state, bool close) {
    UdpRequestChannel channel;
    const RequestSigning signing{state.settings.signing.keys, static_cast<std::uint64_t>(std::time(nullptr))};
    send_remote_request(state.store, state.core.selected_record(), close ? RemoteRequest::close : RemoteRequest::update,
                        listening_port(state.settings.port_cell), channel, state.notifier, &signing);
}

}  // namespace tally

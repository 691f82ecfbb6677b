// The computer's own network facts, read from the system: the IPv4 addresses
// of its interfaces (QNetworkInterface, in the system's order) and the
// interface of its default IPv4 route (/proc/net/route). Nothing is sent
// anywhere. Main thread or any other; reads only.
#pragma once

#include "remote/RemoteLink.h"

namespace ql::remote {

NetworkFacts systemNetworkFacts();

// The address to offer to a phone: chooseLanAddress(systemNetworkFacts()).
std::optional<QString> lanIPAddress();

} // namespace ql::remote

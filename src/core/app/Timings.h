#pragma once
#include <chrono>

namespace dh {

using std::chrono::milliseconds;

// Every fixed wait of the program in one place. The defaults are the real
// values; tests shrink them through timings().
struct Timings {
    milliseconds coverUpdateDelay{100};     // cover's one-shot timer before the update check
    milliseconds pageLoadWait{30000};       // wait for a search page to load
    milliseconds nextPageWait{20000};       // wait for the next result page
    milliseconds transferStall{300000};     // a transfer with no data for this long fails
    milliseconds transferRequestTimeout{60000};  // a request with no response for this long fails
    milliseconds lowSpeedTime{60000};       // a body slower than lowSpeedLimit averaged over this long fails
    int lowSpeedLimit{1024};                // bytes per second; 0 turns the low-speed rule off
    milliseconds loginWait{10000};          // wait for a login page
    milliseconds loginPause{5000};          // pause at the end of a site login
    milliseconds tick{1000};                // scheduler, monitor, automatic hand-over ticks
    milliseconds loginRefresh{60000};       // automatic refresh of the login page
    milliseconds requestPoll{10};           // polling of an asynchronous request
    milliseconds secondUnit{1000};          // length of "one second" in user-chosen delays
    milliseconds inetHeaderWait{30000};     // method one waits this long for the response headers
    milliseconds transferPoll{100};         // method one re-checks its cancel flag and stall this often
    milliseconds cacheListDrain{20};        // the cache viewer takes rows from its listing thread this often
    milliseconds cacheListSlice{12};        // ... and spends at most about this long on them each time
    milliseconds cliProgress{250};          // docharvest-cli redraws its progress line at most this often
    milliseconds stopWindDown{5000};        // after a stop, transfers get this long to clean up
    milliseconds signalRepeat{1000};        // docharvest-cli: the same signal again within this is one stop
    milliseconds forcedStopGrace{3000};     // docharvest-cli: a second stop ends the process after this at the latest
    milliseconds displayHold{150};          // download window: status texts and row repaints at most this often
    milliseconds loginHold{30000};          // method two starts no rows during an automatic login, at most this long
    milliseconds systemProxyHold{2000};     // the system proxy for one host is asked again after this long
    milliseconds speedWindow{5000};         // download window: the speed shown is measured over this long
    milliseconds retryFirstWait{1000};      // a failed transfer's first retry waits this long (then twice as long ...)
    milliseconds retryMaxWait{60000};       // ... but never longer than this
    milliseconds retryAfterCap{600000};     // a server's Retry-After is honoured up to this long
    milliseconds retryShowTick{1000};       // a row waiting for its retry counts its seconds down this often
};

// The process-wide timings. Mutable so that tests can shrink them.
Timings& timings();

} // namespace dh

// Whether the tests run under Wine, whose WinINet does not end stalled requests.
#pragma once

namespace kstest {

bool RunningUnderWine();

} // namespace kstest

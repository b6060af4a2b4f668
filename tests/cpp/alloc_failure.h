// Failing allocations on purpose: the test binary's operator new throws
// std::bad_alloc once a given number of further allocations have succeeded.
#pragma once

namespace quintrel::fixture {

// After `n` more allocations, the next one throws; a negative n never fails.
// Every later allocation succeeds again until the next call.
void fail_allocation_after(long n);

}  // namespace quintrel::fixture

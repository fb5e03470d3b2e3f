// Permission bits bind every user but root, and the tests may run as root.
#pragma once

// Called first by a test that needs permission bits to count. As root, runs
// this test again in a child as nobody (through setpriv, with only this test
// selected), fails the test unless the child passed it, and returns true:
// the caller then returns. Otherwise returns false, and the test runs here.
bool RanAgainAsNobody();

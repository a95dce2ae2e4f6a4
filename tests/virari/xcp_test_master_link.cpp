// The XCP test master of the XCP slave's tests, for the two-device test that
// sets the date of all devices through the other device's slave.
#include "xcp/xcp_test_master.cpp"

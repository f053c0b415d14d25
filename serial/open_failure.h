// Why a serial port would not open, in words a field engineer can act on.
#pragma once

#include <string>

// The advice for a failed open of `device` with the system's error number `error`; empty when
// there is nothing to add (error 0).
std::string OpenFailureAdvice(int error, const std::string &device);

// What ended an open port, from the errno its worker met (TComm::HangupError): "the adapter was
// unplugged (EIO)", "the device hung up" for 0.
std::string HangupReason(int error);

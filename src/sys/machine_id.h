// The machine's own id, for the staged rollout: MachineGuid, which Windows sets once when it
// is installed. It is read, never stored elsewhere and never sent.
#pragma once
#include <string>

namespace sys {

// MachineGuid from HKLM\SOFTWARE\Microsoft\Cryptography in the 64-bit view of the registry
// (the 32-bit view of a 64-bit Windows has no such value); empty when there is none, or it is
// not a string of at most 64 characters.
std::wstring MachineGuid();

}  // namespace sys

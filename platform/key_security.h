// A registry key's owner and access list as SDDL text: read, and written
// back on that key alone. What the start-up access step records and what
// its undo puts back.
#pragma once

#include <windows.h>

#include <string>

// "O:BAD:P(A;CI;KA;;;SY)...": the owner and DACL of the key under
// HKEY_LOCAL_MACHINE. ERROR_SUCCESS or the Win32 error.
LONG ReadKeySecurityText(const char* keyPath, std::string* sddl);

// The owner (withOwner) and DACL of an SDDL text, converted and converted
// back as the system writes SDDL; false when the text is no descriptor.
bool CanonicalSecurityText(const char* sddl, bool withOwner, std::string* canonical);

// The SDDL text of an owner (nullptr: none) and a DACL.
bool SecurityTextOf(PSID owner, PACL dacl, std::string* sddl);

// Writes the owner (when the text has one) and the DACL of the text onto
// the key alone: nothing is propagated to its subkeys. Setting an owner
// other than the caller needs the restore privilege, enabled here for the
// call. Unless ownerRequired, a key whose owner cannot be changed still
// gets the access list. ERROR_SUCCESS or the Win32 error; *keyNotOpened
// when the key would not open for the write.
LONG WriteKeySecurityText(const char* keyPath, const char* sddl, bool ownerRequired,
                          bool* keyNotOpened);

// Whether the access list of the text lets anyone but SYSTEM,
// Administrators, TrustedInstaller or the creator owner write the key (a
// missing access list lets everyone); *who names the first such account.
bool SecurityTextLetsOthersWrite(const char* sddl, std::string* who);

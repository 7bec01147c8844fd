// Security descriptors for folders that an elevated process makes where the user can write.
#pragma once
#include <windows.h>

#include <vector>

namespace win {

// What the protected descriptor grants.
constexpr ACCESS_MASK kFullControl = FILE_ALL_ACCESS;
constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// True when the process's token is elevated, or holds Administrators as a group in effect
// (an administrator without UAC, or a system where the token cannot say).
bool IsElevated();

// A folder no one but administrators can open: owner Administrators; full control for
// Administrators and SYSTEM and nothing for anyone else, the user included (what runs there
// runs elevated, and a copy made there must not let the user read what they could not read
// before); nothing inherited from the parent (protected DACL); every entry inherited by the
// sub-folders and files it will hold. Pass get() as the security descriptor when the folder
// is created.
class AdminOnlyFolder {
public:
    AdminOnlyFolder() = default;
    AdminOnlyFolder(const AdminOnlyFolder&) = delete;  // the descriptor points into the buffers
    AdminOnlyFolder& operator=(const AdminOnlyFolder&) = delete;

    // False when a SID, the ACL or the descriptor cannot be made.
    bool Build();
    PSECURITY_DESCRIPTOR get() { return &m_descriptor; }

private:
    std::vector<unsigned char> m_admins, m_system, m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
};

}  // namespace win

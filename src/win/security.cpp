#include "win/security.h"

#include "win/handles.h"

namespace win {
namespace {

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, std::vector<unsigned char>* sid)
{
    sid->assign(SECURITY_MAX_SID_SIZE, 0);
    DWORD size = SECURITY_MAX_SID_SIZE;
    if (!::CreateWellKnownSid(type, nullptr, sid->data(), &size)) return false;
    sid->resize(size);
    return true;
}

Handle OpenOwnToken()
{
    Handle token;
    // Whatever a failed call left in the slot is no token to close.
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.receive())) token.release();
    return token;
}

}  // namespace

bool IsElevated()
{
    const Handle token = OpenOwnToken();
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (token &&
        ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated)
        return true;
    std::vector<unsigned char> admins;
    BOOL member = FALSE;
    return WellKnownSid(WinBuiltinAdministratorsSid, &admins) &&
           ::CheckTokenMembership(nullptr, admins.data(), &member) && member;
}

bool AdminOnlyFolder::Build()
{
    if (!WellKnownSid(WinBuiltinAdministratorsSid, &m_admins) ||
        !WellKnownSid(WinLocalSystemSid, &m_system))
        return false;
    const std::vector<unsigned char>* grants[] = {&m_admins, &m_system};
    DWORD aclSize = sizeof(ACL);
    for (const auto* sid : grants)
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid->size());
    m_acl.assign(aclSize, 0);
    auto* acl = reinterpret_cast<PACL>(m_acl.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION)) return false;
    for (const auto* sid : grants)
        if (!::AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritedByAll, kFullControl,
                                     const_cast<unsigned char*>(sid->data())))
            return false;
    return ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorOwner(&m_descriptor, m_admins.data(), FALSE) &&
           ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
           // Protected: nothing of the parent's allowances for users is inherited.
           ::SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

}  // namespace win

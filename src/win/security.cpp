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
    HANDLE token = nullptr;
    return Handle(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) ? token : nullptr);
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

bool TokenUser(std::vector<unsigned char>* sid)
{
    const Handle token = OpenOwnToken();
    DWORD size = 0;
    if (!token) return false;
    ::GetTokenInformation(token.get(), ::TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token.get(), ::TokenUser, buffer.data(), size, &size)) return false;
    const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const DWORD length = ::GetLengthSid(user);
    sid->assign(static_cast<unsigned char*>(user), static_cast<unsigned char*>(user) + length);
    return ::IsValidSid(user) != FALSE;
}

bool AdminOnlyFolder::Build()
{
    if (!WellKnownSid(WinBuiltinAdministratorsSid, &m_admins) ||
        !WellKnownSid(WinLocalSystemSid, &m_system) || !TokenUser(&m_user))
        return false;
    const struct {
        std::vector<unsigned char>* sid;
        ACCESS_MASK access;
    } grants[] = {{&m_admins, kFullControl}, {&m_system, kFullControl}, {&m_user, kReadAndExecute}};
    DWORD aclSize = sizeof(ACL);
    for (const auto& grant : grants)
        aclSize +=
            sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(grant.sid->size());
    m_acl.assign(aclSize, 0);
    auto* acl = reinterpret_cast<PACL>(m_acl.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION)) return false;
    for (const auto& grant : grants)
        if (!::AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritedByAll, grant.access,
                                     grant.sid->data()))
            return false;
    return ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           ::SetSecurityDescriptorOwner(&m_descriptor, m_admins.data(), FALSE) &&
           ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
           // Protected: the user's allowances on %TEMP% are not inherited.
           ::SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

}  // namespace win

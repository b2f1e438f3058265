// Registry keys for the tests under Wine.
#pragma once

#include <windows.h>

// Lets everyone read the key, and no one do more: a key an administrator
// has locked. Answers the registry's status.
inline LONG AllowReadingOnly(HKEY key)
{
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<ACL*>(aclBuffer);
    ::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    ::AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    LONG status = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    ::FreeSid(everyone);
    return status;
}

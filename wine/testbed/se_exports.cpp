// Built against the DDK headers alone (the table's layout is theirs).
#include <ntifs.h>

#include "se_exports.h"

namespace {

// A SID with up to two sub-authorities, laid out as the kernel's SID.
struct WellKnownSid {
    UCHAR revision;
    UCHAR subAuthorityCount;
    UCHAR authority[6];
    ULONG subAuthority[2];
};

constexpr WellKnownSid Sid(UCHAR authority, ULONG first) {
    return WellKnownSid{1, 1, {0, 0, 0, 0, 0, authority}, {first, 0}};
}
constexpr WellKnownSid Sid(UCHAR authority, ULONG first, ULONG second) {
    return WellKnownSid{1, 2, {0, 0, 0, 0, 0, authority}, {first, second}};
}

WellKnownSid nullSid = Sid(0, 0);
WellKnownSid worldSid = Sid(1, 0);
WellKnownSid localSid = Sid(2, 0);
WellKnownSid creatorOwnerSid = Sid(3, 0);
WellKnownSid creatorGroupSid = Sid(3, 1);
WellKnownSid ntAuthoritySid = {1, 0, {0, 0, 0, 0, 0, 5}, {0, 0}};
WellKnownSid dialupSid = Sid(5, 1);
WellKnownSid networkSid = Sid(5, 2);
WellKnownSid batchSid = Sid(5, 3);
WellKnownSid interactiveSid = Sid(5, 4);
WellKnownSid anonymousLogonSid = Sid(5, 7);
WellKnownSid authenticatedUsersSid = Sid(5, 11);
WellKnownSid restrictedSid = Sid(5, 12);
WellKnownSid localSystemSid = Sid(5, 18);
WellKnownSid localServiceSid = Sid(5, 19);
WellKnownSid networkServiceSid = Sid(5, 20);
WellKnownSid adminsSid = Sid(5, 32, 544);
WellKnownSid usersSid = Sid(5, 32, 545);
WellKnownSid guestsSid = Sid(5, 32, 546);
WellKnownSid powerUsersSid = Sid(5, 32, 547);
WellKnownSid accountOpsSid = Sid(5, 32, 548);
WellKnownSid systemOpsSid = Sid(5, 32, 549);
WellKnownSid printOpsSid = Sid(5, 32, 550);
WellKnownSid backupOpsSid = Sid(5, 32, 551);

LUID Privilege(ULONG value) {
    LUID luid;
    luid.LowPart = value;
    luid.HighPart = 0;
    return luid;
}

SE_EXPORTS MakeTable() {
    SE_EXPORTS t;
    RtlZeroMemory(&t, sizeof t);
    t.SeCreateTokenPrivilege = Privilege(SE_CREATE_TOKEN_PRIVILEGE);
    t.SeAssignPrimaryTokenPrivilege = Privilege(SE_ASSIGNPRIMARYTOKEN_PRIVILEGE);
    t.SeLockMemoryPrivilege = Privilege(SE_LOCK_MEMORY_PRIVILEGE);
    t.SeIncreaseQuotaPrivilege = Privilege(SE_INCREASE_QUOTA_PRIVILEGE);
    t.SeUnsolicitedInputPrivilege = Privilege(SE_UNSOLICITED_INPUT_PRIVILEGE);
    t.SeTcbPrivilege = Privilege(SE_TCB_PRIVILEGE);
    t.SeSecurityPrivilege = Privilege(SE_SECURITY_PRIVILEGE);
    t.SeTakeOwnershipPrivilege = Privilege(SE_TAKE_OWNERSHIP_PRIVILEGE);
    t.SeLoadDriverPrivilege = Privilege(SE_LOAD_DRIVER_PRIVILEGE);
    t.SeCreatePagefilePrivilege = Privilege(SE_CREATE_PAGEFILE_PRIVILEGE);
    t.SeIncreaseBasePriorityPrivilege = Privilege(SE_INC_BASE_PRIORITY_PRIVILEGE);
    t.SeSystemProfilePrivilege = Privilege(SE_SYSTEM_PROFILE_PRIVILEGE);
    t.SeSystemtimePrivilege = Privilege(SE_SYSTEMTIME_PRIVILEGE);
    t.SeProfileSingleProcessPrivilege = Privilege(SE_PROF_SINGLE_PROCESS_PRIVILEGE);
    t.SeCreatePermanentPrivilege = Privilege(SE_CREATE_PERMANENT_PRIVILEGE);
    t.SeBackupPrivilege = Privilege(SE_BACKUP_PRIVILEGE);
    t.SeRestorePrivilege = Privilege(SE_RESTORE_PRIVILEGE);
    t.SeShutdownPrivilege = Privilege(SE_SHUTDOWN_PRIVILEGE);
    t.SeDebugPrivilege = Privilege(SE_DEBUG_PRIVILEGE);
    t.SeAuditPrivilege = Privilege(SE_AUDIT_PRIVILEGE);
    t.SeSystemEnvironmentPrivilege = Privilege(SE_SYSTEM_ENVIRONMENT_PRIVILEGE);
    t.SeChangeNotifyPrivilege = Privilege(SE_CHANGE_NOTIFY_PRIVILEGE);
    t.SeRemoteShutdownPrivilege = Privilege(SE_REMOTE_SHUTDOWN_PRIVILEGE);
    t.SeUndockPrivilege = Privilege(SE_UNDOCK_PRIVILEGE);
    t.SeSyncAgentPrivilege = Privilege(SE_SYNC_AGENT_PRIVILEGE);
    t.SeEnableDelegationPrivilege = Privilege(SE_ENABLE_DELEGATION_PRIVILEGE);
    t.SeManageVolumePrivilege = Privilege(SE_MANAGE_VOLUME_PRIVILEGE);
    t.SeImpersonatePrivilege = Privilege(SE_IMPERSONATE_PRIVILEGE);
    t.SeCreateGlobalPrivilege = Privilege(SE_CREATE_GLOBAL_PRIVILEGE);
    t.SeNullSid = &nullSid;
    t.SeWorldSid = &worldSid;
    t.SeLocalSid = &localSid;
    t.SeCreatorOwnerSid = &creatorOwnerSid;
    t.SeCreatorGroupSid = &creatorGroupSid;
    t.SeNtAuthoritySid = &ntAuthoritySid;
    t.SeDialupSid = &dialupSid;
    t.SeNetworkSid = &networkSid;
    t.SeBatchSid = &batchSid;
    t.SeInteractiveSid = &interactiveSid;
    t.SeLocalSystemSid = &localSystemSid;
    t.SeAliasAdminsSid = &adminsSid;
    t.SeAliasUsersSid = &usersSid;
    t.SeAliasGuestsSid = &guestsSid;
    t.SeAliasPowerUsersSid = &powerUsersSid;
    t.SeAliasAccountOpsSid = &accountOpsSid;
    t.SeAliasSystemOpsSid = &systemOpsSid;
    t.SeAliasPrintOpsSid = &printOpsSid;
    t.SeAliasBackupOpsSid = &backupOpsSid;
    t.SeAuthenticatedUsersSid = &authenticatedUsersSid;
    t.SeRestrictedSid = &restrictedSid;
    t.SeAnonymousLogonSid = &anonymousLogonSid;
    t.SeLocalServiceSid = &localServiceSid;
    t.SeNetworkServiceSid = &networkServiceSid;
    return t;
}

SE_EXPORTS table = MakeTable();
PSE_EXPORTS tablePointer = &table;

}  // namespace

void* SeExportsImport() { return &tablePointer; }

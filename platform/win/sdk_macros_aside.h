// Sets aside the SDK macros that share their names with the boundary's
// constants, so that platform.h can be included after the SDK's headers.
// Only the Windows backend includes this.
#pragma once

#undef TRUE
#undef FALSE
#undef MAX_PATH
#undef ERROR_SUCCESS
#undef ERROR_INVALID_DATA
#undef ERROR_INSUFFICIENT_BUFFER
#undef CR_SUCCESS
#undef DIGCF_PRESENT
#undef DIGCF_ALLCLASSES
#undef SPDRP_DEVICEDESC
#undef SPDRP_CLASS
#undef SPDRP_DRIVER
#undef SPDRP_ENUMERATOR_NAME
#undef DN_HAS_PROBLEM
#undef DN_DISABLEABLE
#undef CM_PROB_DISABLED
#undef CM_PROB_HARDWARE_DISABLED
#undef DIF_PROPERTYCHANGE
#undef DICS_ENABLE
#undef DICS_DISABLE
#undef DICS_FLAG_GLOBAL
#undef DICS_FLAG_CONFIGSPECIFIC
#undef DI_NEEDRESTART
#undef DI_NEEDREBOOT
#undef KEY_ALL_ACCESS
#undef REG_SZ
#undef LPTR
#undef INVALID_HANDLE_VALUE
#undef HKEY_LOCAL_MACHINE
// And those of inspection.h.
#undef KEY_READ
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_MORE_DATA
#undef DN_NEED_RESTART
#undef KEY_SET_VALUE
#undef KEY_QUERY_VALUE
#undef REG_OPTION_NON_VOLATILE
#undef REG_MULTI_SZ
#undef ERROR_NO_MORE_ITEMS

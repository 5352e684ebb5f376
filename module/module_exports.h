/* The entry points every control module exports, as a host (or a registration tool) calls them
 * after loading the module's file. Results are HRESULT values (0 is success). */
#ifndef CAMCTL_MODULE_EXPORTS_H
#define CAMCTL_MODULE_EXPORTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A class or interface identifier in memory order. */
typedef struct CAMCTL_GUID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} CAMCTL_GUID;

/* The class factory interface a host asks DllGetClassObject for:
 * {00000001-0000-0000-C000-000000000046}. */
#define CAMCTL_IID_CLASSFACTORY \
    { 0x00000001u, 0x0000u, 0x0000u, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } }

/* Writes the module's type library, classes and safety categories into the settings store;
 * 0x80040200 when the type library cannot be registered, 0x80040201 for the classes. */
int32_t DllRegisterServer(void);
/* Removes what DllRegisterServer wrote, except the categories. */
int32_t DllUnregisterServer(void);
/* The factory of the class `clsid` (owned by the module, valid while it is loaded) through
 * `*factory`; 0x80040111 for a class the module does not make, 0x80004002 for another iid. */
int32_t DllGetClassObject(const CAMCTL_GUID* clsid, const CAMCTL_GUID* iid, void** factory);
/* 0 when no object of the module lives and no lock is held, else 1. */
int32_t DllCanUnloadNow(void);

#ifdef __cplusplus
}
#endif

#endif

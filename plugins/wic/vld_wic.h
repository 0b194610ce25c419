// What the codec's two halves share: the COM decoder (decoder.cpp) and its
// registration (registration.cpp).
#ifndef VLD_WIC_H
#define VLD_WIC_H

#include <windows.h>

// {c532b2a5-0c73-4e8d-ab7a-19c2257b66c5}
const CLSID kDecoderClsid = {0xc532b2a5, 0x0c73, 0x4e8d,
                             {0xab, 0x7a, 0x19, 0xc2, 0x25, 0x7b, 0x66, 0xc5}};
// {4ce2ede8-9fdb-408d-ae92-b7f24b551e61}
const GUID kContainerFormat = {0x4ce2ede8, 0x9fdb, 0x408d,
                               {0xae, 0x92, 0xb7, 0xf2, 0x4b, 0x55, 0x1e, 0x61}};

// The DLL itself, set when it loads; registration names its file.
extern HMODULE g_module;

#endif  // VLD_WIC_H

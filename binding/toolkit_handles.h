#ifndef VESKAR_BINDING_TOOLKIT_HANDLES_H_
#define VESKAR_BINDING_TOOLKIT_HANDLES_H_

// The loaded toolkit modules, null when absent. Written only by the entry
// routine at attach and detach; read from any thread in between.
extern void* g_hCmsApi;
extern void* g_hKmpApi;

#endif  // VESKAR_BINDING_TOOLKIT_HANDLES_H_

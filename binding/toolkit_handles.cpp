#include "binding/toolkit_handles.h"

#include <veskar/services.h>

void* g_hCmsApi = nullptr;
void* g_hKmpApi = nullptr;

int GetAvaliableServices() {
  int mask = veskar::kServiceNetscape;
  if (g_hCmsApi != nullptr) mask |= veskar::kServiceCms;
  if (g_hKmpApi != nullptr) mask |= veskar::kServiceIpsec;
  return mask;
}

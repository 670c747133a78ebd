#include "binding/toolkit_handles.h"

#include <veskar/services.h>

void* g_hCmsApi = nullptr;
void* g_hKmpApi = nullptr;

int GetAvaliableServices() {
  int mask = 1;
  if (g_hCmsApi != nullptr) mask = 5;
  if (g_hKmpApi != nullptr) mask |= 2;
  return mask;
}

// Host confinement: whether a URL lies in the start host's domain.
#ifndef FERRET_APP_CONFINE_H_
#define FERRET_APP_CONFINE_H_

#include "text/CStr.h"

// 1 when host and startHost have the same last two dot-separated labels
// (compared byte for byte, letter case counting); 0 otherwise, including for
// a host with fewer than two dots.
int SameDomainHost(const CStr& host, const CStr& startHost);

// SameDomainHost for the host of url.
int SameDomain(CStr url, CStr startHost);

#endif  // FERRET_APP_CONFINE_H_

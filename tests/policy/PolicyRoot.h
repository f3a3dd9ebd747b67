#pragma once

#include "FanCore/Policy/Paths.h"
#include "support/Files.h"
#include "support/TempRoot.h"

using support::entries;
using support::readText;
using support::writeText;

// A sandbox root for one test, with the policy layer's cached locations recomputed in and out.
class PolicyRoot : public support::TempRoot {
  public:
    PolicyRoot() : TempRoot(Paths::reload, "policy") {}
};

// Resource ids of Pomrel.
#pragma once

#define IDD_POMREL 101
#define IDC_POMREL_SECONDS 1000

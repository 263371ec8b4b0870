// Network adapter information (GetAdaptersInfo) with the Windows record layout.
#pragma once


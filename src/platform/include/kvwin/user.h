// Message boxes and the dialog result codes.
#pragma once


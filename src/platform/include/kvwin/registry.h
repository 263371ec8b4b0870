// Registry calls of the stand-in, kept in the user's database.
#pragma once


#pragma once

// The application-wide busy cursor for as long as the guard lives, however
// the work inside ends.  UI thread.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

#ifndef APPLICATION_H
#define APPLICATION_H

// Sets up what must be settled before the application object exists: the
// window follows the display's scaling, and a start without a display ends
// with one clear line and status 1 instead of an abort.
void prepareApplication();
// Called once the application object exists.
void applicationStarted();

#endif // APPLICATION_H

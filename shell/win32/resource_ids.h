/* Resource identifiers, shared by the resource script and the code. */
#ifndef TOLVESSA_RESOURCE_IDS_H
#define TOLVESSA_RESOURCE_IDS_H

#define IDI_TOLVESSA 1

#define IDB_EMBLEM 101
#define IDB_MAKER 102
#define IDB_FACEBOOK_HEADER 103
#define IDB_TWITTER_HEADER 104
#define IDB_FACEBOOK_ABOUT 105
#define IDB_TWITTER_ABOUT 106

#endif

/* Resource identifiers, shared by the resource script and the code. */
#ifndef TOLVESSA_RESOURCE_IDS_H
#define TOLVESSA_RESOURCE_IDS_H

#define IDI_TOLVESSA 1

#endif

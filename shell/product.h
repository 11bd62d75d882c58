/* The product's names and addresses, in one place. Plain C macros, so the resource scripts can
   include this file too; C++ code takes the UTF-16 forms through TOLVESSA_U(). */
#ifndef TOLVESSA_PRODUCT_H
#define TOLVESSA_PRODUCT_H

#define TOLVESSA_TITLE "Corvane Tolvessa"
#define TOLVESSA_VERSION_TEXT "1.3"
#define TOLVESSA_VERSION_DOTTED "1.3.0.0"
#define TOLVESSA_VERSION_NUMBERS 1, 3, 0, 0
#define TOLVESSA_RELEASE_DATE "08 January 2016"

#define TOLVESSA_MAKER "Corvane Software"
#define TOLVESSA_MAKER_WORD "CorvaneSoftware"
#define TOLVESSA_COPYRIGHT "Copyright (C) 2016 Corvane Software"
#define TOLVESSA_HOST_NAME "www.corvane.example"
#define TOLVESSA_HOMEPAGE "https://www.corvane.example/"
#define TOLVESSA_FACEBOOK "https://www.facebook.com/corvane.example"
#define TOLVESSA_TWITTER "https://twitter.com/corvane_example"
#define TOLVESSA_SEARCH_BASE "https://www.google.com"

#define TOLVESSA_U2(s) u##s
#define TOLVESSA_U(s) TOLVESSA_U2(s)

#endif

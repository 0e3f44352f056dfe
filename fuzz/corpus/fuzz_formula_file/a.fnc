x+10*sin(y)
y
abs(x-y)/8
1
1
1
1

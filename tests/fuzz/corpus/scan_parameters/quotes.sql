SELECT 'a:b''c' , "X:Y" /* :z ? */ FROM T WHERE A = ? AND B=:B_1$
